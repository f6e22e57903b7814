// SPDX-License-Identifier: MIT
#include "app/SyncService.h"

#include "analytics/Analytics.h"
#include "async/CancellationError.h"
#include "model/Errors.h"
#include "store/AppStore.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace varno {

SyncService::SyncService(SyncServiceParts parts, QObject* parent)
    : QObject(parent), parts_(std::move(parts)) {
    Q_ASSERT(parts_.store);
}

SyncService::~SyncService() {
    for (const auto& job : {sessionRestorationTask_, automaticSyncTask_})
        if (job)
            job->cancel();
}

void SyncService::start() {
    // Until the saved session is back, store operations stay off.
    parts_.store->setBusy(true);
    sessionRestorationTask_ =
        Job::start([this](std::stop_token token) { return restoreSession(token); });
}

QCoro::Task<void> SyncService::restoreSession(std::stop_token token) {
    QPointer<SyncService> self(this);
    std::optional<SavedSession> session;
    std::optional<QString> problem;
    if (parts_.readSession) {
        try {
            auto read = parts_.readSession;
            session = co_await read(token);
        } catch (const CancellationError&) {
            co_return;
        } catch (...) {
            problem = describeError(std::current_exception());
        }
    }
    if (!self || token.stop_requested())
        co_return;
    restorationProblem_ = problem;
    AppStore* store = parts_.store;
    // The session's own server wins for this run; the user's settings keep theirs.
    if (session)
        store->setServerURL(session->serverURL);
    store->setSession(session);
    store->setBusy(false);
    store->analytics()->capture(Analytics::Event::appLaunched);
    emit restored();
    if (!self || token.stop_requested())
        co_return;
    automaticSyncTask_ =
        Job::start([this](std::stop_token loopToken) { return syncLoop(loopToken); });
}

QCoro::Task<void> SyncService::syncLoop(std::stop_token token) {
    QPointer<SyncService> self(this);
    const Sleeper sleeper = parts_.sleeper;
    const auto interval = parts_.syncInterval;
    AppStore* store = parts_.store;
    while (!token.stop_requested()) {
        // A pass that finds the store busy returns at once: skipped, not queued.
        if (store->session() && !store->busy())
            co_await runPass(token);
        if (!self)
            co_return;
        co_await sleeper(interval, token); // throws on cancellation: the loop ends
    }
}

QCoro::Task<void> SyncService::runPass(std::stop_token token) {
    QPointer<SyncService> self(this);
    AppStore* store = parts_.store;
    const std::optional<QDateTime> before = store->lastSynced();
    co_await store->refresh(true, token);
    if (!self || token.stop_requested())
        co_return;
    SyncPass pass;
    pass.endedAt = QDateTime::currentDateTime();
    pass.uploaded = store->lastSynced() && store->lastSynced() != before;
    if (pass.uploaded && store->snapshot())
        pass.rows = store->snapshot()->daily.size();
    pass.error = store->error();
    lastPass_ = pass;
    emit passFinished(pass);
}

void SyncService::stop(const std::vector<std::shared_ptr<Job>>& alsoCancel) {
    std::vector<std::shared_ptr<Job>> jobs = alsoCancel;
    jobs.push_back(sessionRestorationTask_);
    jobs.push_back(automaticSyncTask_);
    for (const auto& job : jobs)
        if (job)
            job->cancel();
    // The main loop has stopped by now: give the cancelled tasks a bounded turn of
    // their own so that they abort their requests and stop the CodexBar tool,
    // instead of being abandoned mid-await.
    const auto running = [&jobs] {
        return std::any_of(jobs.begin(), jobs.end(),
                           [](const auto& job) { return job && !job->isFinished(); });
    };
    if (running()) {
        QEventLoop unwind;
        QTimer::singleShot(unwindLimit, &unwind, &QEventLoop::quit);
        for (const auto& job : jobs)
            if (job)
                connect(job.get(), &Job::finished, &unwind, [&unwind, &running] {
                    if (!running())
                        unwind.quit();
                });
        unwind.exec();
    }
    if (TelemetryClient* client = parts_.store->analytics()->client())
        client->flush();
}

} // namespace varno
