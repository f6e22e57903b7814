// SPDX-License-Identifier: MIT
#pragma once

#include <QCoroTask>
#include <QObject>

#include <exception>
#include <functional>
#include <memory>
#include <stop_token>

namespace varno {

// A started, cancellable top-level coroutine. The body receives the job's stop
// token; whatever it throws is caught here and never reaches the event loop.
// A running job keeps itself alive, so callers may drop their handle.
class Job : public QObject {
    Q_OBJECT
public:
    using Body = std::function<QCoro::Task<void>(std::stop_token)>;

    static std::shared_ptr<Job> start(Body body);

    void cancel() { stop_.request_stop(); }
    bool isCancelled() const { return stop_.stop_requested(); }
    bool isFinished() const { return finished_; }
    std::stop_token stopToken() const { return stop_.get_token(); }

    // What the body threw, if anything (cancellation included).
    std::exception_ptr failure() const { return failure_; }

    // Resumes once the job has finished; never throws.
    QCoro::Task<void> wait();

signals:
    void finished();

private:
    explicit Job(Body body) : body_(std::move(body)) {}
    static QCoro::Task<void> run(std::shared_ptr<Job> self);

    Body body_;
    std::stop_source stop_;
    bool finished_ = false;
    std::exception_ptr failure_;
};

} // namespace varno
