// SPDX-License-Identifier: MIT
#include "async/Job.h"

#include <QCoroSignal>

namespace varno {

std::shared_ptr<Job> Job::start(Body body) {
    std::shared_ptr<Job> job(new Job(std::move(body)));
    run(job);
    return job;
}

QCoro::Task<void> Job::run(std::shared_ptr<Job> self) {
    try {
        co_await self->body_(self->stop_.get_token());
    } catch (...) {
        self->failure_ = std::current_exception();
    }
    // The body may hold captures that refer to objects being torn down; drop it now.
    self->body_ = nullptr;
    self->finished_ = true;
    emit self->finished();
}

QCoro::Task<void> Job::wait() {
    if (finished_)
        co_return;
    co_await qCoro(this, &Job::finished);
}

} // namespace varno
