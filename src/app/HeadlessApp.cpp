// SPDX-License-Identifier: MIT
#include "app/HeadlessApp.h"

#include "app/AppCore.h"
#include "app/CommandRunner.h"
#include "app/Console.h"
#include "app/InstanceStatus.h"
#include "app/SingleInstance.h"
#include "auth/SessionStorage.h"
#include "model/Errors.h"
#include "model/OutsideText.h"
#include "store/AppStore.h"

#include <QCoreApplication>

#include <unistd.h>

namespace varno {

namespace {

const QString signInAgain =
    QStringLiteral("Run varno --sign-in, then start Varno again (systemctl --user start varno).");

} // namespace

HeadlessOptions HeadlessOptions::fromEnvironment() {
    HeadlessOptions options;
    options.core = AppCoreOptions::forThisBuild();
    if (qEnvironmentVariable("VARNO_DEVELOPMENT") == QLatin1String("1")) {
        bool ok = false;
        const int interval = qEnvironmentVariableIntValue("VARNO_SYNC_INTERVAL_MS", &ok);
        if (ok && interval > 0)
            options.syncInterval = std::chrono::milliseconds(interval);
    }
    return options;
}

int HeadlessApp::main(int argc, char** argv) {
    // Decided before anything else starts: one Varno per user, with or without a
    // desktop.
    SingleInstance instance;
    const auto advice = [](const std::optional<InstanceStatus>&) {
        return QStringLiteral("One Varno runs per user: stop that one first.");
    };
    if (const std::optional<int> status = CommandRunner::claim(instance, argc, argv, advice))
        return *status;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varno"));
    if (const std::optional<int> status = CommandRunner::listen(instance))
        return *status;
    HeadlessApp headless(HeadlessOptions::fromEnvironment());
    // No panel to show and no sign-in to hand links to: only the status is answered.
    instance.setHandler([](const InstanceRequest&) { return SingleInstance::Reply::Ignored; });
    instance.setStatusSource([&headless] { return headless.status(); });
    headless.start();
    return headless.finish(app.exec());
}

HeadlessApp::HeadlessApp(HeadlessOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

HeadlessApp::~HeadlessApp() {
    for (const auto& job : {startJob_, signOutJob_})
        if (job)
            job->cancel();
    sync_.reset();
}

void HeadlessApp::start() {
    // From the event loop, so that an early end can already ask it to exit.
    QMetaObject::invokeMethod(
        this,
        [this] { startJob_ = Job::start([this](std::stop_token token) { return run(token); }); },
        Qt::QueuedConnection);
}

QCoro::Task<void> HeadlessApp::run(std::stop_token token) {
    std::shared_ptr<SessionStorage> storage = co_await AppCore::sessionStorageForThisMachine();
    if (token.stop_requested())
        co_return;
    AppCoreOptions core = options_.core;
    core.sessionStorage = std::move(storage);
    core.opener = nullptr; // nothing signs in here
    core_ = std::make_unique<AppCore>(std::move(core));
    sync_ = std::make_unique<SyncService>(SyncServiceParts{
        core_->store(), core_->sessionReader(), &ContinuousClock::sleep, options_.syncInterval});
    connect(sync_.get(), &SyncService::restored, this, &HeadlessApp::restored);
    connect(sync_.get(), &SyncService::passFinished, this, &HeadlessApp::passFinished);
    sync_->start();
}

void HeadlessApp::restored() {
    AppStore* store = core_->store();
    if (const std::optional<SavedSession>& session = store->session()) {
        log(QStringLiteral("varno: syncing as %1 with %2 every %3 seconds.")
                .arg(boundedText(session->user.name, maxNameLength),
                     boundedText(session->serverURL, maxMessageLength))
                .arg(std::chrono::duration<double>(options_.syncInterval).count()));
        return;
    }
    if (const std::optional<QString>& problem = sync_->restorationProblem())
        log(QStringLiteral("varno: %1").arg(*problem));
    else
        log(QStringLiteral("varno: this machine is not signed in to Varno. %1").arg(signInAgain));
    QCoreApplication::exit(exitStatus::notSignedIn);
}

void HeadlessApp::passFinished(const SyncPass& pass) {
    log(pass.endedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
        describePass(pass, *core_->store()));
    // A 401 has signed the store out: only a new sign-in helps.
    if (!core_->store()->session() && !signOutJob_)
        signOutJob_ = Job::start([this](std::stop_token token) { return signedOut(token); });
}

QCoro::Task<void> HeadlessApp::signedOut(std::stop_token token) {
    // The store has asked for the session to be deleted; this waits until it is,
    // so that the next start does not find it again.
    std::shared_ptr<SessionStorage> storage = core_->sessionStorage();
    co_await storage->remove();
    if (token.stop_requested())
        co_return;
    log(QStringLiteral("varno: the server signed this machine out. %1").arg(signInAgain));
    QCoreApplication::exit(exitStatus::notSignedIn);
}

QString HeadlessApp::describePass(const SyncPass& pass, const AppStore& store) {
    const QString error = pass.error ? boundedText(*pass.error, maxMessageLength) : QString();
    const QString uploaded = QStringLiteral("uploaded %1 rows").arg(pass.rows);
    if (pass.error)
        return pass.uploaded ? uploaded + QStringLiteral("; then: ") + error
                             : QStringLiteral("sync failed: ") + error;
    QString line = pass.uploaded ? uploaded : QStringLiteral("nothing to upload");
    const QList<LeaderboardEntry> board = store.visibleLeaderboard();
    for (qsizetype i = 0; i < board.size(); ++i)
        if (board.at(i).isMe)
            line +=
                QStringLiteral("; place %1 of %2 on the leaderboard").arg(i + 1).arg(board.size());
    return line;
}

QByteArray HeadlessApp::status() const {
    InstanceStatus status;
    status.mode = InstanceStatus::Mode::headless;
    status.process = ::getpid();
    if (core_)
        status.lastUpload = core_->store()->lastSynced();
    if (sync_ && sync_->lastPass())
        status.lastError = sync_->lastPass()->error;
    return status.toJson();
}

int HeadlessApp::finish(int loopStatus) {
    if (startJob_)
        startJob_->cancel();
    if (sync_)
        sync_->stop({signOutJob_});
    return loopStatus;
}

void HeadlessApp::log(const QString& line) const {
    printText(options_.log, line + QLatin1Char('\n'));
}

} // namespace varno
