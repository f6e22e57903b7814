// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppCore.h"
#include "app/SyncService.h"

#include <QObject>
#include <QVariantMap>

#include <chrono>
#include <cstdio>
#include <memory>

namespace varno {

class AppStore;

struct HeadlessOptions {
    // The build and analytics; the session storage is chosen at start.
    AppCoreOptions core;
    std::chrono::milliseconds syncInterval = std::chrono::seconds(60);
    std::FILE* log = stderr;

    // The build's configuration and the shared analytics client. With
    // VARNO_DEVELOPMENT=1, VARNO_SYNC_INTERVAL_MS shortens the interval (for tests).
    static HeadlessOptions fromEnvironment();
};

// `varno --headless`: the sync service for machines without a desktop. No display,
// tray or D-Bus: a QCoreApplication with the same store, sync loop, server client and
// analytics as the tray app. Says one line per sync pass on standard error; ends
// with exitStatus::notSignedIn when there is no usable session or the server signs
// this machine out.
class HeadlessApp : public QObject {
    Q_OBJECT
public:
    // The whole command behind `varno --headless`; returns the exit status.
    static int main(int argc, char** argv);

    explicit HeadlessApp(HeadlessOptions options, QObject* parent = nullptr);
    ~HeadlessApp() override;

    // Chooses where the session is, restores it and starts the loop.
    void start();
    // Once the event loop has ended with loopStatus: cancels a running pass, flushes
    // analytics and returns the exit status.
    int finish(int loopStatus);

    // What this Varno tells another `varno --status`.
    QByteArray status() const;

    // The line a pass leaves in the log, after its time: what was uploaded and the
    // place on the leaderboard as the panel shows it, or what went wrong.
    static QString describePass(const SyncPass& pass, const AppStore& store);

private:
    QCoro::Task<void> run(std::stop_token token);
    void restored();
    void passFinished(const SyncPass& pass);
    QCoro::Task<void> signedOut(std::stop_token token);
    void log(const QString& line) const;

    HeadlessOptions options_;
    std::unique_ptr<AppCore> core_;
    std::unique_ptr<SyncService> sync_;
    std::shared_ptr<Job> startJob_;
    std::shared_ptr<Job> signOutJob_;
};

} // namespace varno
