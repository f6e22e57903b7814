// SPDX-License-Identifier: MIT
#include "async/ContinuousClock.h"

#include "async/CancellationError.h"

#include <QCoroSignal>
#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace varno {

namespace {

// One armed CLOCK_BOOTTIME timer. The notifier fires when it expires; a stop
// request fires `done` through the event loop so the sleeper never resumes
// inside request_stop() or on another thread.
class BootTimer : public QObject {
    Q_OBJECT
public:
    explicit BootTimer(int fd) : fd_(fd), notifier_(fd, QSocketNotifier::Read) {
        connect(&notifier_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            // Non-blocking: a spurious wake-up reads EAGAIN and keeps waiting.
            if (::read(fd_, &expirations, sizeof expirations) == sizeof expirations)
                finish();
        });
    }
    ~BootTimer() override {
        notifier_.setEnabled(false);
        ::close(fd_);
    }
    void finish() {
        if (finished_)
            return;
        finished_ = true;
        notifier_.setEnabled(false);
        emit done();
    }
    bool finished() const { return finished_; }

signals:
    void done();

private:
    int fd_;
    QSocketNotifier notifier_;
    bool finished_ = false;
};

int armedTimer(std::chrono::milliseconds duration) {
    const int fd = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0)
        return -1;
    // A zero it_value would disarm the timer; the shortest real wait is 1 ns.
    const auto ns = std::max<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count(), 1);
    itimerspec expiry{};
    expiry.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    expiry.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    if (::timerfd_settime(fd, 0, &expiry, nullptr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::chrono::nanoseconds ContinuousClock::now() {
    timespec ts{};
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

QCoro::Task<void> ContinuousClock::sleep(std::chrono::milliseconds duration,
                                         std::stop_token token) {
    if (token.stop_requested())
        throw CancellationError();
    const int fd = armedTimer(duration);
    if (fd < 0) {
        // Kernels without CLOCK_BOOTTIME timers (or out of descriptors): an
        // ordinary timer is still better than not syncing at all.
        co_await detail::sleepOnEventLoopTimer(duration, std::move(token));
        co_return;
    }
    BootTimer timer(fd);
    std::stop_callback wake(token, [&timer] {
        QMetaObject::invokeMethod(
            &timer, [&timer] { timer.finish(); }, Qt::QueuedConnection);
    });
    if (!timer.finished())
        co_await qCoro(&timer, &BootTimer::done);
    if (token.stop_requested())
        throw CancellationError();
}

} // namespace varno

#include "ContinuousClock_linux.moc"
