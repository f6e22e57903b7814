// SPDX-License-Identifier: MIT
#include "app/SignInCommand.h"

#include "app/AppCore.h"
#include "app/CommandRunner.h"
#include "app/Console.h"
#include "app/InstanceStatus.h"
#include "app/SingleInstance.h"
#include "app/StandardInputLines.h"
#include "auth/SessionStorage.h"
#include "model/Errors.h"
#include "model/OutsideText.h"
#include "store/AppStore.h"
#include "store/ServerClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <unistd.h>

namespace varno {

int SignInCommand::main(int argc, char** argv, std::optional<QString> server) {
    if (server) {
        try {
            ServerClient::baseAddress(*server);
        } catch (const AppError& error) {
            printText(stderr, QStringLiteral("varno: %1\n").arg(error.message()));
            return exitStatus::usage;
        }
    }
    // Links from a browser on this machine come through the running Varno's socket,
    // so this process must be it.
    SingleInstance instance;
    const auto advice = [](const std::optional<InstanceStatus>& running) {
        if (running && running->mode == InstanceStatus::Mode::tray)
            return QStringLiteral("Sign in from its menu, or quit it first.");
        if (running && running->mode == InstanceStatus::Mode::headless)
            return QStringLiteral("Stop it first (systemctl --user stop varno), sign in, then "
                                  "start it again.");
        return QStringLiteral("One Varno runs per user: let that one finish first.");
    };
    if (const std::optional<int> status = CommandRunner::claim(instance, argc, argv, advice))
        return *status;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varno"));
    if (const std::optional<int> status = CommandRunner::listen(instance))
        return *status;
    SignInOptions options;
    options.core = AppCoreOptions::forThisBuild();
    options.server = std::move(server);
    SignInCommand command(std::move(options));
    instance.setHandler([&command](const InstanceRequest& request) {
        if (request.kind == InstanceRequest::Kind::OpenURL && command.router() &&
            command.router()->deliver(request.argument))
            return SingleInstance::Reply::Accepted;
        return SingleInstance::Reply::Ignored;
    });
    instance.setStatusSource([] {
        InstanceStatus status;
        status.mode = InstanceStatus::Mode::signIn;
        status.process = ::getpid();
        return status.toJson();
    });
    command.start();
    return command.finish(app.exec());
}

SignInCommand::SignInCommand(SignInOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

SignInCommand::~SignInCommand() {
    if (job_)
        job_->cancel();
}

CallbackRouter* SignInCommand::router() const {
    return core_ ? core_->router() : nullptr;
}

void SignInCommand::start() {
    QMetaObject::invokeMethod(
        this, [this] { job_ = Job::start([this](std::stop_token token) { return run(token); }); },
        Qt::QueuedConnection);
}

QCoro::Task<void> SignInCommand::run(std::stop_token token) {
    std::shared_ptr<SessionStorage> storage = co_await AppCore::sessionStorageForThisMachine();
    if (token.stop_requested())
        co_return;
    AppCoreOptions core = options_.core;
    core.sessionStorage = storage;
    // "Opening" the page is saying where it is: the browser may be anywhere.
    core.opener = [this](const QUrl& url) {
        say(QStringLiteral("Open this address in any browser and sign in. Then paste here the "
                           "varno://auth/callback?… link the browser ends on:"));
        say(url.toString(QUrl::FullyEncoded));
        return true;
    };
    core_ = std::make_unique<AppCore>(std::move(core));
    AppStore* store = core_->store();
    if (options_.server)
        store->setServerURL(*options_.server);
    connect(core_->router(), &CallbackRouter::waitingChanged, this, &SignInCommand::waitingChanged);
    connect(store, &AppStore::sessionChanged, this, &SignInCommand::sessionChanged);

    co_await store->loginWithGitHub(token);

    int status = exitStatus::failure;
    reported_ = true;
    if (store->session()) {
        status = 0;
        if (token.stop_requested())
            complain(QStringLiteral("varno: the first sync was cancelled; the sign-in stands."));
        else if (const std::optional<QString>& error = store->error())
            complain(QStringLiteral("varno: warning: the first sync failed: %1 The sign-in "
                                    "stands; Varno tries again at every sync.")
                         .arg(boundedText(*error, maxMessageLength)));
        else
            say(QStringLiteral("This machine's usage is uploaded."));
    } else if (const std::optional<QString>& error = store->error()) {
        complain(QStringLiteral("varno: %1").arg(boundedText(*error, maxMessageLength)));
    } else {
        complain(QStringLiteral("varno: sign-in cancelled; nothing was changed."));
    }
    QCoreApplication::exit(status);
}

void SignInCommand::waitingChanged(bool waiting) {
    if (!waiting) {
        // This may run inside the reader's own signal: it goes once that is over.
        if (input_) {
            input_->disconnect(this);
            input_.release()->deleteLater();
        }
        return;
    }
    // Links pasted here are bounded like the ones a second process forwards.
    input_ = std::make_unique<StandardInputLines>(options_.input, InstanceRequest::maxEncodedSize);
    connect(input_.get(), &StandardInputLines::line, this, [this](const QString& text) {
        // Blank lines (an extra Enter) are not an answer.
        if (!text.trimmed().isEmpty() && router())
            router()->deliverPasted(text.trimmed());
    });
    connect(input_.get(), &StandardInputLines::tooLong, this, [this] {
        complain(QStringLiteral("varno: that line is longer than Varno accepts (%1 bytes), so "
                                "none of it was used. Paste the link again.")
                     .arg(InstanceRequest::maxEncodedSize));
    });
    connect(input_.get(), &StandardInputLines::ended, this, [this] {
        if (job_)
            job_->cancel();
    });
}

void SignInCommand::sessionChanged() {
    AppStore* store = core_->store();
    if (announced_ || !store->session())
        return;
    announced_ = true;
    say(QStringLiteral("Signed in as %1. Your session is kept in %2.")
            .arg(boundedText(store->session()->user.name, maxNameLength),
                 core_->sessionStorage()->place()));
    say(QStringLiteral("Uploading this machine's usage…"));
}

int SignInCommand::finish(int loopStatus) {
    if (!job_ || job_->isFinished()) {
        if (core_ && core_->store()->analytics()->client())
            core_->store()->analytics()->client()->flush();
        return loopStatus;
    }
    // Ctrl+C or SIGTERM: cancel and let the sign-in unwind (it aborts its requests and
    // stops the CodexBar tool), for a bounded time.
    job_->cancel();
    QEventLoop unwind;
    QTimer::singleShot(1500, &unwind, &QEventLoop::quit);
    connect(job_.get(), &Job::finished, &unwind, &QEventLoop::quit);
    if (!job_->isFinished())
        unwind.exec();
    const bool signedIn = core_ && core_->store()->session();
    if (core_ && core_->store()->analytics()->client())
        core_->store()->analytics()->client()->flush();
    if (!reported_)
        complain(QStringLiteral("varno: sign-in cancelled; nothing was changed."));
    // A sign-in that got as far as its first sync stands.
    return signedIn ? 0 : exitStatus::failure;
}

void SignInCommand::say(const QString& line) const {
    printText(options_.out, line + QLatin1Char('\n'));
}

void SignInCommand::complain(const QString& line) const {
    printText(options_.err, line + QLatin1Char('\n'));
}

} // namespace varno
