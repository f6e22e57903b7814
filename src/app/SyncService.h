// SPDX-License-Identifier: MIT
#pragma once

#include "async/ContinuousClock.h"
#include "async/Job.h"
#include "model/Records.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

namespace varno {

class AppStore;

// What the service reaches outside itself.
struct SyncServiceParts {
    AppStore* store = nullptr; // not owned; outlives the service
    // The saved session, read without blocking the main thread; none when there is
    // none. May throw AppError for a session that must not be used.
    std::function<QCoro::Task<std::optional<SavedSession>>(std::stop_token)> readSession;
    Sleeper sleeper = &ContinuousClock::sleep;
    std::chrono::milliseconds syncInterval = std::chrono::seconds(60);
};

// What one automatic sync pass did.
struct SyncPass {
    QDateTime endedAt;
    bool uploaded = false;
    qsizetype rows = 0; // of the reading that was uploaded
    std::optional<QString> error;
};

// The part of every Varno, with or without a desktop, that keeps usage flowing:
// restores the saved session at launch, then runs the automatic sync every interval
// on a clock that counts suspended time; at the end cancels both and flushes
// analytics.
class SyncService : public QObject {
    Q_OBJECT
public:
    explicit SyncService(SyncServiceParts parts, QObject* parent = nullptr);
    ~SyncService() override;

    // Launch: the store is busy until the session is back, then "app_launched" is
    // captured and the loop starts.
    void start();
    // Termination: cancels restoration, the loop and the given jobs, gives them a
    // bounded turn of the event loop to unwind, then flushes analytics.
    void stop(const std::vector<std::shared_ptr<Job>>& alsoCancel = {});

    std::shared_ptr<Job> sessionRestorationTask() const { return sessionRestorationTask_; }
    std::shared_ptr<Job> automaticSyncTask() const { return automaticSyncTask_; }
    // Why a saved session was there but not used (a session file others can read).
    const std::optional<QString>& restorationProblem() const { return restorationProblem_; }
    const std::optional<SyncPass>& lastPass() const { return lastPass_; }

    // The longest stop() waits for cancelled work before flushing.
    static constexpr std::chrono::milliseconds unwindLimit{1500};

signals:
    // The saved session (or none) is in the store.
    void restored();
    // A pass of the loop ran (a pass that found the store busy did not).
    void passFinished(const SyncPass& pass);

private:
    QCoro::Task<void> restoreSession(std::stop_token token);
    QCoro::Task<void> syncLoop(std::stop_token token);
    QCoro::Task<void> runPass(std::stop_token token);

    SyncServiceParts parts_;
    std::shared_ptr<Job> sessionRestorationTask_;
    std::shared_ptr<Job> automaticSyncTask_;
    std::optional<QString> restorationProblem_;
    std::optional<SyncPass> lastPass_;
};

} // namespace varno
