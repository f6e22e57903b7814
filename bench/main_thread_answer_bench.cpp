// SPDX-License-Identifier: MIT
// How long the main thread is held while the largest answer the app accepts arrives,
// is decoded and replaces the previous one: a valid dashboard just under the answer
// size limit, loaded by the store from a loopback server through the real transport,
// again and again. Budget: no gap between two turns of the event loop over 50 ms.
//
// Run: main_thread_answer_bench [runs]   (default 9; prints each run, the median and
// the worst). Measure on a quiet machine: other processes delay the loop too.

#include "LoopbackStore.h"
#include "model/Records.h"
#include "support/AwaitTask.h"
#include "support/EventLoopProbe.h"
#include "support/ScriptedHttpServer.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace varno;
using namespace varno::test;

namespace {

QByteArray dashboardNearTheLimit(qsizetype& rows) {
    QByteArray json = R"({"user":{"id":"me","name":"Me","email":"me@x.io"},"requests":[],)"
                      R"("leaderboard":[{"id":"me","isMe":true,"name":"Me","codex":1,"claude":1,)"
                      R"("total":2})";
    rows = 1;
    while (json.size() < maxServerAnswerBytes - 100'000) {
        json += QStringLiteral(R"(,{"id":"friend-%1","isMe":false,"name":"Friend %1",)"
                               R"("codex":123456789,"claude":987654321,"total":1111111110})")
                    .arg(rows++)
                    .toUtf8();
    }
    return json + "]}";
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    qsizetype rows = 0;
    const QByteArray json = dashboardNearTheLimit(rows);
    ScriptedHttpServer server;
    // Not a JSON type, so that the test server does not compress it.
    server.setDefault(ScriptedResponse::reply(200, json, "application/octet-stream"));
    bench::LoopbackStore loopback(server.url(QString()).toString());
    AppStore& store = *loopback.store;

    std::vector<qint64> gaps;
    for (int run = 0; run < runs; ++run) {
        EventLoopProbe probe(1);
        awaitTask(store.refresh(false), std::chrono::minutes(2));
        gaps.push_back(probe.longestGapMs());
        if (store.error() || !store.dashboard() || store.dashboard()->leaderboard.size() != rows) {
            std::fprintf(stderr, "the dashboard did not come back whole: %s\n",
                         qPrintable(store.error().value_or(QString())));
            return 1;
        }
        std::printf("run %d: longest event-loop gap %lld ms\n", run + 1,
                    static_cast<long long>(gaps.back()));
    }
    std::vector<qint64> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    std::printf("answer %.1f MB, %lld leaderboard rows, %d runs: median %lld ms, worst %lld ms "
                "(budget 50 ms)\n",
                json.size() / (1024.0 * 1024.0), static_cast<long long>(rows), runs,
                static_cast<long long>(sorted[sorted.size() / 2]),
                static_cast<long long>(sorted.back()));
    return sorted.back() <= 50 ? 0 : 1;
}
