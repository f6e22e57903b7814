#pragma once

#include "async/CancellationError.h"

#include <QCoroSignal>
#include <QCoroTask>
#include <QObject>
#include <QTimer>

#include <stop_token>

namespace varno::test {

// Holds an awaiting coroutine until opened (or its token is stopped).
class Gate : public QObject {
    Q_OBJECT
public:
    void open() {
        opened_ = true;
        emit opened();
    }
    QCoro::Task<void> wait(std::stop_token token) {
        QTimer poll;
        poll.start(5);
        while (!opened_ && !token.stop_requested())
            co_await qCoro(&poll, &QTimer::timeout);
        if (!opened_)
            throw CancellationError();
    }
    bool isOpen() const { return opened_; }

signals:
    void opened();

private:
    bool opened_ = false;
};

} // namespace varno::test
