#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace varno::test {

// Counts turns of the event loop while it exists: a test that awaits work and then
// finds many ticks has shown that the main thread was never blocked. The longest gap
// between two ticks tells how long the loop was held at most.
class EventLoopProbe {
public:
    explicit EventLoopProbe(int intervalMs = 10) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        since_.start();
        timer_.start(intervalMs);
    }
    int ticks() const { return ticks_; }
    // Including the time since the last tick, so that work at the very end counts.
    qint64 longestGapMs() const { return std::max(longestGapMs_, since_.elapsed()); }

private:
    void tick() {
        ++ticks_;
        longestGapMs_ = std::max(longestGapMs_, since_.restart());
    }

    QTimer timer_;
    QElapsedTimer since_;
    int ticks_ = 0;
    qint64 longestGapMs_ = 0;
};

} // namespace varno::test
