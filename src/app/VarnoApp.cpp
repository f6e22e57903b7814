// SPDX-License-Identifier: MIT
#include "app/VarnoApp.h"

#include "app/AppCore.h"
#include "app/BundleInfo.h"
#include "app/CommandLine.h"
#include "app/CommandRunner.h"
#include "app/Console.h"
#include "app/DesktopEntry.h"
#include "app/DisplayPlatform.h"
#include "app/HeadlessApp.h"
#include "app/InstanceStatus.h"
#include "app/LeaderboardCommand.h"
#include "app/LoginItem.h"
#include "app/MenuBarController.h"
#include "app/Notifier.h"
#include "app/SignInCommand.h"
#include "app/StatusCommand.h"
#include "async/Background.h"
#include "async/Job.h"
#include "auth/CallbackRouter.h"
#include "auth/GitHubLogin.h"
#include "auth/KeychainSessionStorage.h"
#include "auth/SessionKeychain.h"
#include "model/Errors.h"
#include "store/AppStore.h"
#include "store/FriendNewsWatcher.h"
#include "ui/VarnoView.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

namespace varno {

namespace {

QString describeRegistration(const SchemeRegistration& result) {
    using Status = SchemeRegistration::Status;
    switch (result.status) {
    case Status::Registered:
        return QStringLiteral("Varno now opens varno:// links.\n");
    case Status::AlreadyDefault:
        return QStringLiteral("Varno already opens varno:// links.\n");
    case Status::OtherHandler:
        return QStringLiteral("varno:// links open with %1, so Varno left that alone. To use "
                              "Varno instead: xdg-mime default varno.desktop "
                              "x-scheme-handler/varno\n")
            .arg(result.detail);
    case Status::ToolMissing:
        return QStringLiteral("The desktop entry is installed, but xdg-mime (xdg-utils) is "
                              "missing, so the varno:// default could not be set.\n");
    case Status::Installed:
        return QStringLiteral("Nothing to do: Varno's installed desktop entry opens varno:// "
                              "links.\n");
    case Status::EntryKept:
        return QStringLiteral("Nothing to do: Varno's desktop entry is in place.\n");
    case Status::NotNeeded:
        return QStringLiteral("Nothing to do: the application bundle registers varno:// links.\n");
    case Status::Failed:
        break;
    }
    return QStringLiteral("Could not register varno:// links: %1\n").arg(result.detail);
}

SchemeRegistrationOptions registrationOptions() {
    SchemeRegistrationOptions options = SchemeRegistrationOptions::defaults();
    options.desktopEntry = generated::desktopEntry();
    return options;
}

InstanceRequest requestFor(const CommandLine& command) {
    switch (command.action) {
    case CommandLine::Action::Toggle:
        return {InstanceRequest::Kind::Toggle, {}};
    case CommandLine::Action::OpenURL:
        return {InstanceRequest::Kind::OpenURL, command.argument};
    case CommandLine::Action::Development:
        return {InstanceRequest::Kind::Development, command.argument};
    default:
        return {InstanceRequest::Kind::Show, {}};
    }
}

// The second process: hand the request over and leave.
int forwardToRunningInstance(SingleInstance& instance, const CommandLine& command, int argc,
                             char** argv) {
    QCoreApplication app(argc, argv);
    const auto reply = instance.forward(requestFor(command));
    if (!reply) {
        printText(stderr, QStringLiteral("varno: Varno is running but did not answer. Quit it and "
                                         "start it again.\n"));
        return 1;
    }
    if (*reply == SingleInstance::Reply::TooLong) {
        printText(stderr, QStringLiteral("varno: this %1 is longer than Varno accepts (%2 bytes "
                                         "once encoded), so none of it was used.\n")
                              .arg(command.action == CommandLine::Action::OpenURL
                                       ? QStringLiteral("link")
                                       : QStringLiteral("request"))
                              .arg(InstanceRequest::maxEncodedSize));
        return 1;
    }
    if (*reply == SingleInstance::Reply::Ignored) {
        // A Varno without a desktop has no panel to show.
        if (command.action == CommandLine::Action::Run ||
            command.action == CommandLine::Action::Toggle) {
            const std::optional<InstanceStatus> running = InstanceStatus::ask(instance);
            if (running && running->mode != InstanceStatus::Mode::tray) {
                printText(stderr,
                          QStringLiteral("varno: Varno is already running %1, without a panel. One "
                                         "Varno runs per user: stop that one first%2.\n")
                              .arg(running->whereRunning(),
                                   running->mode == InstanceStatus::Mode::headless
                                       ? QStringLiteral(" (systemctl --user stop varno)")
                                       : QString()));
                return 1;
            }
        }
        if (command.action == CommandLine::Action::OpenURL)
            printText(stderr, QStringLiteral("varno: no sign-in is waiting for this link, so it "
                                             "was ignored.\n"));
        else if (command.action == CommandLine::Action::Development)
            printText(stderr, QStringLiteral("varno: development commands are off (start Varno "
                                             "with VARNO_DEVELOPMENT=1), or the command is "
                                             "unknown.\n"));
    }
    return 0;
}

} // namespace

VarnoAppOptions VarnoAppOptions::fromEnvironment() {
    VarnoAppOptions options;
    const AppCoreOptions build = AppCoreOptions::forThisBuild();
    options.bundleInfo = build.bundleInfo;
    options.telemetry = build.telemetry;
    options.developmentCommands = qEnvironmentVariable("VARNO_DEVELOPMENT") == QLatin1String("1");
    options.startupReport = qEnvironmentVariable("VARNO_STARTUP_REPORT");
    options.installSchemeHandler =
        qEnvironmentVariable("VARNO_NO_URL_HANDLER") != QLatin1String("1");
    return options;
}

int VarnoApp::main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine command = CommandLine::parse(arguments);

    switch (command.action) {
    case CommandLine::Action::Help:
        printText(stdout, CommandLine::usage());
        return 0;
    case CommandLine::Action::Version: {
        const QVariantMap info = BundleInfo::main();
        printText(stdout,
                  QStringLiteral("Varno %1 (build %2)\n")
                      .arg(info.value(QStringLiteral("CFBundleShortVersionString")).toString(),
                           info.value(QStringLiteral("CFBundleVersion")).toString()));
        return 0;
    }
    case CommandLine::Action::Invalid:
        printText(stderr, QStringLiteral("varno: %1\n%2").arg(command.error, CommandLine::usage()));
        return exitStatus::usage;
    case CommandLine::Action::SignIn:
        return SignInCommand::main(argc, argv, command.server);
    case CommandLine::Action::Headless:
        return HeadlessApp::main(argc, argv);
    case CommandLine::Action::Leaderboard:
        return LeaderboardCommand::main(argc, argv);
    case CommandLine::Action::Status:
        return StatusCommand::main(argc, argv);
    case CommandLine::Action::RegisterURLHandler: {
        QCoreApplication app(argc, argv);
        SchemeRegistrationOptions options = registrationOptions();
        options.replaceExisting = true;
        const SchemeRegistration result = registerSchemeHandler(options);
        const bool ok = result.status != SchemeRegistration::Status::Failed;
        printText(ok ? stdout : stderr, describeRegistration(result));
        return ok ? 0 : 1;
    }
    default:
        break;
    }

    // Decide who we are before building a GUI application: a forwarding process
    // needs no display and should be gone at once.
    SingleInstance instance;
    if (command.action == CommandLine::Action::OpenURL ||
        command.action == CommandLine::Action::Development) {
        if (instance.isRunning())
            return forwardToRunningInstance(instance, command, argc, argv);
        printText(stderr, command.action == CommandLine::Action::OpenURL
                              ? QStringLiteral("varno: Varno is not running, so this sign-in link "
                                               "cannot be used. Start Varno and sign in again.\n")
                              : QStringLiteral("varno: Varno is not running.\n"));
        return 1;
    }
    SingleInstance::Role role;
    try {
        role = instance.claim();
    } catch (const AppError& error) {
        printText(stderr, QStringLiteral("varno: %1\n").arg(error.message()));
        return 1;
    }
    if (role == SingleInstance::Role::Secondary)
        return forwardToRunningInstance(instance, command, argc, argv);

    // Decided before Qt picks a platform; see preferredPlatform.
    if (const auto platform = preferredPlatform(QProcessEnvironment::systemEnvironment()))
        qputenv("QT_QPA_PLATFORM", *platform);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Also the tray item's title and id on StatusNotifierItem hosts.
    QApplication::setApplicationName(QStringLiteral("Varno"));
    QApplication::setApplicationDisplayName(QStringLiteral("Varno"));
    QGuiApplication::setDesktopFileName(QStringLiteral("varno"));
    if (const std::optional<int> status = CommandRunner::listen(instance))
        return *status;

    VarnoApp varno(VarnoAppOptions::fromEnvironment());
    instance.setHandler([&varno](const InstanceRequest& request) { return varno.handle(request); });
    instance.setStatusSource([&varno] { return varno.status(); });
    app.installEventFilter(varno.router());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &varno,
                     [&varno] { varno.controller()->applicationWillTerminate(); });
    varno.start();
    if (command.action == CommandLine::Action::Toggle)
        varno.controller()->togglePanel();
    return app.exec();
}

VarnoApp::VarnoApp(VarnoAppOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    // The tray app keeps its session in the desktop's keyring, never in a file.
    AppCoreOptions core;
    core.bundleInfo = options_.bundleInfo;
    core.telemetry = options_.telemetry;
    core.sessionStorage = std::make_shared<KeychainSessionStorage>(SessionKeychain::systemStore());
    core_ = std::make_unique<AppCore>(std::move(core));
    AppStore* store = core_->store();
    friendNews_ = std::make_unique<FriendNewsWatcher>(store, core_->settings());

    MenuBarParts parts;
    parts.store = store;
    parts.readSession = core_->sessionReader();
    parts.panelContent = [this, store](PanelVisibility* visibility, std::function<void()> onSignIn,
                                       std::function<void()> onCancelSignIn) -> QWidget* {
        VarnoViewActions viewActions;
        viewActions.signIn = std::move(onSignIn);
        viewActions.cancelSignIn = std::move(onCancelSignIn);
        viewActions.quit = [this] { controller_->quit(); };
        auto* view = new VarnoView(store, std::move(viewActions));
        connect(visibility, &PanelVisibility::isVisibleChanged, view,
                &VarnoView::setRefreshEnabled);
        view->setRefreshEnabled(visibility->isVisible());
        return view;
    };
    parts.loginItem = LoginItem::forThisSystem();
    parts.friendNews = friendNews_.get();
    parts.notifier = Notifier::forThisSystem();
    parts.router = core_->router();
    controller_ = std::make_unique<MenuBarController>(std::move(parts));
}

AppStore* VarnoApp::store() const {
    return core_->store();
}

CallbackRouter* VarnoApp::router() const {
    return core_->router();
}

QByteArray VarnoApp::status() const {
    InstanceStatus status;
    status.mode = InstanceStatus::Mode::tray;
    status.process = ::getpid();
    status.lastUpload = store()->lastSynced();
    if (const auto& pass = controller_->syncService()->lastPass())
        status.lastError = pass->error;
    return status.toJson();
}

VarnoApp::~VarnoApp() {
    // The controller's jobs refer to the store; let it go first.
    controller_.reset();
}

void VarnoApp::start() {
    controller_->applicationDidFinishLaunching();
    if (!options_.startupReport.isEmpty())
        QTimer::singleShot(0, this, &VarnoApp::writeStartupReport);
    if (options_.installSchemeHandler)
        installSchemeHandlerInBackground();
}

void VarnoApp::installSchemeHandlerInBackground() {
    // First start only: an entry already there (ours, or one the user edited)
    // stays as it is; `varno --register-url-handler` rewrites it.
    Job::start([](std::stop_token token) -> QCoro::Task<void> {
        co_await runInBackground(
            [](std::stop_token) { return registerSchemeHandler(registrationOptions()); }, token);
    });
}

void VarnoApp::writeStartupReport() {
    const qint64 sinceStart = QDateTime::currentMSecsSinceEpoch();
    QSaveFile file(options_.startupReport);
    if (!file.open(QIODevice::WriteOnly))
        return;
    const bool shown = controller_->statusItem() && controller_->statusItem()->isVisible();
    file.write(QStringLiteral("tray_shown_epoch_ms=%1\ntray=%2\n")
                   .arg(sinceStart)
                   .arg(shown ? QStringLiteral("shown") : QStringLiteral("none"))
                   .toUtf8());
    file.commit();
}

SingleInstance::Reply VarnoApp::handle(const InstanceRequest& request) {
    using Reply = SingleInstance::Reply;
    switch (request.kind) {
    case InstanceRequest::Kind::Show:
        controller_->showPanel();
        return Reply::Accepted;
    case InstanceRequest::Kind::Toggle:
        controller_->togglePanel();
        return Reply::Accepted;
    case InstanceRequest::Kind::OpenURL:
        if (router()->deliver(request.argument))
            return Reply::Accepted;
        // A sign-in link from elsewhere is shown in its own window by now.
        return GitHubLogin::isCallbackLink(request.argument) ? Reply::Accepted : Reply::Ignored;
    case InstanceRequest::Kind::Status:
        return Reply::Ignored; // answered by the status source
    case InstanceRequest::Kind::Development:
        if (!options_.developmentCommands)
            return Reply::Ignored;
        if (request.argument == QLatin1String("friends")) {
            controller_->showFriends();
            return Reply::Accepted;
        }
        if (request.argument == QLatin1String("usage")) {
            controller_->showUsage();
            return Reply::Accepted;
        }
        if (request.argument == QLatin1String("signin")) {
            controller_->signIn();
            return Reply::Accepted;
        }
        if (request.argument == QLatin1String("quit")) {
            controller_->quit();
            return Reply::Accepted;
        }
        return Reply::Ignored;
    }
    return Reply::Ignored;
}

} // namespace varno
