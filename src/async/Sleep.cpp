// SPDX-License-Identifier: MIT
#include "async/Sleep.h"

#include "async/CancellationError.h"

#include <QCoroTimer>
#include <QTimer>

namespace varno {

QCoro::Task<void> sleepFor(std::chrono::milliseconds duration, std::stop_token token) {
    if (token.stop_requested())
        throw CancellationError();
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    // The stop may be requested from any thread: hop to the timer's thread, and
    // never resume the sleeper from inside request_stop().
    std::stop_callback wake(token, [&timer] {
        QMetaObject::invokeMethod(
            &timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
    });
    timer.start(duration);
    // Awaiting the timer itself: QTimer::timeout is a private signal, which the
    // generic signal awaiter handles in a way UBSan rejects.
    co_await timer;
    if (token.stop_requested())
        throw CancellationError();
}

} // namespace varno
