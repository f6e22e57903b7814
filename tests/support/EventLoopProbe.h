#pragma once

#include <QTimer>

namespace varno::test {

// Counts turns of the event loop while it exists: a test that awaits work and then
// finds many ticks has shown that the main thread was never blocked.
class EventLoopProbe {
public:
    explicit EventLoopProbe(int intervalMs = 10) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { ++ticks_; });
        timer_.start(intervalMs);
    }
    int ticks() const { return ticks_; }

private:
    QTimer timer_;
    int ticks_ = 0;
};

} // namespace varno::test
