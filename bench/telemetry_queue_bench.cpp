// SPDX-License-Identifier: MIT
// Costs of the analytics queue on this machine:
//   AddOneEvent     encode one typical captured event and store it as a file
//                   (budget: 100 µs median), at capacity so each add also evicts;
//   Reindex1500     index a folder of 1,500 queued files at start (budget: 50 ms);
//   Reindex1500To1000  the same with the capacity trim that deletes the 500 oldest.
// Run: telemetry_queue_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
// The folders are made under $TELEMETRY_BENCH_DIR when set (default: the temp folder),
// to compare file systems: creating a file dominates, and its cost is the disk's.

#include "analytics/client/TelemetryQueue.h"
#include "analytics/client/UuidV7.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <vector>

using namespace varno;

namespace {

QString benchRoot() {
    const QString root = qEnvironmentVariable("TELEMETRY_BENCH_DIR");
    return (root.isEmpty() ? QDir::tempPath() : root) + QStringLiteral("/telemetry-bench-XXXXXX");
}

// The properties a real capture carries: the app's four and the client's own.
QVariantMap typicalProperties(int index) {
    return {
        {"app_version", "0.1.0"},
        {"app_build", "42"},
        {"environment", "production"},
        {"platform", "linux"},
        {"$app_name", "Varno"},
        {"$app_version", "0.1.0"},
        {"$app_build", "42"},
        {"$app_namespace", "app.varno"},
        {"$device_manufacturer", "LENOVO"},
        {"$device_type", "Desktop"},
        {"$device_model", "ThinkPad X1 Carbon Gen 11"},
        {"$device_name", "workstation"},
        {"$os_name", "Linux"},
        {"$os_version", "6.1.0"},
        {"$is_emulator", false},
        {"$locale", "en"},
        {"$timezone", "Europe/Berlin"},
        {"$screen_width", 2560},
        {"$screen_height", 1440},
        {"$network_wifi", true},
        {"$network_cellular", false},
        {"$lib", "varno-telemetry"},
        {"$lib_version", "1.0.0"},
        {"$is_identified", true},
        {"$process_person_profile", true},
        {"$session_id", UuidV7::generateString()},
        {"index", index},
    };
}

void AddOneEvent(benchmark::State& state) {
    QTemporaryDir dir(benchRoot());
    TelemetryConfig config(QStringLiteral("token"), QStringLiteral("http://127.0.0.1:9"));
    config.flushAt = 1'000'000; // measure the write, not uploads
    auto api = std::make_shared<TelemetryApi>(config);
    TelemetryEventQueue queue(config, dir.path(), telemetryEventsEndpoint(api));
    for (int i = 0; i < config.maxQueueSize; ++i) // start full, as after a long time offline
        queue.add(TelemetryEvent("usage_sync_completed", "user-1", typicalProperties(i)));
    // Building the event is the capture pipeline's work; the queue's part is add.
    std::vector<TelemetryEvent> events;
    for (int i = 0; i < 1024; ++i)
        events.emplace_back("usage_sync_completed", "user-1", typicalProperties(i));
    size_t next = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(queue.add(events[next++ % events.size()]));
}

void EncodeOneEvent(benchmark::State& state) {
    const TelemetryEvent event("usage_sync_completed", "user-1", typicalProperties(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(event.encode());
}

void fillFolder(const QString& folder, int count) {
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QByteArray body =
        TelemetryEvent("usage_sync_completed", "user-1", typicalProperties(0)).encode();
    for (int i = 0; i < count; ++i)
        TelemetryFileOps::writeAtomically(folder + "/" + UuidV7::generateString(), body, nullptr);
}

void Reindex1500(benchmark::State& state) {
    QTemporaryDir dir(benchRoot());
    const QString folder = dir.filePath("queue");
    fillFolder(folder, 1500);
    for (auto _ : state) {
        TelemetryFileBackedQueue queue(folder, 2000);
        if (queue.depth() != 1500)
            state.SkipWithError("wrong depth");
    }
}

void Reindex1500To1000(benchmark::State& state) {
    QTemporaryDir dir(benchRoot());
    const QString folder = dir.filePath("queue");
    for (auto _ : state) {
        state.PauseTiming();
        fillFolder(folder, 1500);
        state.ResumeTiming();
        TelemetryFileBackedQueue queue(folder, 1000);
        if (queue.depth() != 1000)
            state.SkipWithError("wrong depth");
    }
}

} // namespace

BENCHMARK(EncodeOneEvent)->Unit(benchmark::kMicrosecond);
BENCHMARK(AddOneEvent)->Unit(benchmark::kMicrosecond);
BENCHMARK(Reindex1500)->Unit(benchmark::kMillisecond);
BENCHMARK(Reindex1500To1000)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
