// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <ctime>

namespace varno::test {

// Counts turns of the event loop while it exists: a test that awaits work and then
// finds many ticks has shown that the main thread was never blocked. The longest gap
// between two ticks tells how long the loop was held at most; the most processor time
// the main thread spent between two ticks tells the same of work done on it, without
// counting the time other processes on a loaded machine took the core.
class EventLoopProbe {
public:
    explicit EventLoopProbe(int intervalMs = 10) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        since_.start();
        busySince_ = threadCpuMs();
        timer_.start(intervalMs);
    }
    int ticks() const { return ticks_; }
    // Including the time since the last tick, so that work at the very end counts.
    qint64 longestGapMs() const { return std::max(longestGapMs_, since_.elapsed()); }
    // Must be asked on the thread that made the probe.
    qint64 longestBusyMs() const { return std::max(longestBusyMs_, threadCpuMs() - busySince_); }

private:
    static qint64 threadCpuMs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
    }
    void tick() {
        ++ticks_;
        longestGapMs_ = std::max(longestGapMs_, since_.restart());
        const qint64 cpu = threadCpuMs();
        longestBusyMs_ = std::max(longestBusyMs_, cpu - busySince_);
        busySince_ = cpu;
    }

    QTimer timer_;
    QElapsedTimer since_;
    int ticks_ = 0;
    qint64 longestGapMs_ = 0;
    qint64 busySince_ = 0;
    qint64 longestBusyMs_ = 0;
};

} // namespace varno::test
