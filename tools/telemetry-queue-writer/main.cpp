// SPDX-License-Identifier: MIT
// telemetry-queue-writer <application folder> [count] [padding bytes]
//
// Adds events to the analytics queue in <application folder> as fast as it can and
// prints each event's uuid on its own line once the event is stored. count 0 (the
// default) means until killed. Tests kill it with SIGKILL and check that the next
// queue uploads every printed event and is not stopped by a torn write.

#include "analytics/client/TelemetryQueue.h"
#include "analytics/client/UuidV7.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(
            stderr, "usage: telemetry-queue-writer <application folder> [count] [padding bytes]\n");
        return 2;
    }
    const QString folder = args.at(1);
    const long long count = args.size() > 2 ? args.at(2).toLongLong() : 0;
    const int padding = args.size() > 3 ? args.at(3).toInt() : 0;

    varno::TelemetryConfig config(QStringLiteral("writer-token"),
                                  QStringLiteral("http://127.0.0.1:9"));
    config.maxQueueSize = 1'000'000; // nothing is evicted while the test runs
    auto api = std::make_shared<varno::TelemetryApi>(config);
    // Never started, so nothing is uploaded from here.
    varno::TelemetryEventQueue queue(config, folder, varno::telemetryEventsEndpoint(api));

    const QString pad(padding, QLatin1Char('x'));
    for (long long i = 0; count == 0 || i < count; ++i) {
        varno::TelemetryEvent event(
            QStringLiteral("writer_event"), QStringLiteral("writer"),
            {{QStringLiteral("index"), i}, {QStringLiteral("padding"), pad}});
        if (!queue.add(event)) {
            std::fprintf(stderr, "could not store event %lld\n", i);
            return 1;
        }
        std::printf("%s\n", qPrintable(varno::UuidV7::toText(event.uuid)));
        std::fflush(stdout);
    }
    return 0;
}
