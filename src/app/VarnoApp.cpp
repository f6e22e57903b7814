#include "app/VarnoApp.h"

#include "analytics/client/TelemetryContext.h"
#include "analytics/client/TelemetrySDK.h"
#include "app/BundleInfo.h"
#include "app/CommandLine.h"
#include "app/DesktopEntry.h"
#include "app/DisplayPlatform.h"
#include "app/LoginItem.h"
#include "app/MenuBarController.h"
#include "app/Notifier.h"
#include "app/QuitSignals.h"
#include "async/Background.h"
#include "async/Job.h"
#include "auth/CallbackRouter.h"
#include "auth/SessionKeychain.h"
#include "model/Errors.h"
#include "model/Settings.h"
#include "store/AppStore.h"
#include "store/FriendNewsWatcher.h"
#include "store/HttpTransport.h"
#include "ui/VarnoView.h"
#include "usage/CodexBarReader.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>

#include <cstdio>

namespace varno {

namespace {

void printTo(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

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
        printTo(stderr, QStringLiteral("varno: Varno is running but did not answer. Quit it and "
                                       "start it again.\n"));
        return 1;
    }
    if (*reply == SingleInstance::Reply::TooLong) {
        printTo(stderr,
                QStringLiteral("varno: this %1 is longer than Varno accepts (%2 bytes "
                               "once encoded), so none of it was used.\n")
                    .arg(command.action == CommandLine::Action::OpenURL ? QStringLiteral("link")
                                                                        : QStringLiteral("request"))
                    .arg(InstanceRequest::maxEncodedSize));
        return 1;
    }
    if (*reply == SingleInstance::Reply::Ignored) {
        if (command.action == CommandLine::Action::OpenURL)
            printTo(stderr, QStringLiteral("varno: no sign-in is waiting for this link, so it "
                                           "was ignored.\n"));
        else if (command.action == CommandLine::Action::Development)
            printTo(stderr, QStringLiteral("varno: development commands are off (start Varno "
                                           "with VARNO_DEVELOPMENT=1), or the command is "
                                           "unknown.\n"));
    }
    return 0;
}

} // namespace

VarnoAppOptions VarnoAppOptions::fromEnvironment() {
    VarnoAppOptions options;
    options.bundleInfo = BundleInfo::main();
    // Does nothing until the wrapper sets it up, which needs a token and an https host.
    TelemetrySDK& telemetry = TelemetrySDK::shared();
    telemetry.setApplicationInfo(TelemetryApplicationInfo::fromInfoDictionary(options.bundleInfo));
    options.telemetry = &telemetry;
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
        printTo(stdout, CommandLine::usage());
        return 0;
    case CommandLine::Action::Version: {
        const QVariantMap info = BundleInfo::main();
        printTo(stdout,
                QStringLiteral("Varno %1 (build %2)\n")
                    .arg(info.value(QStringLiteral("CFBundleShortVersionString")).toString(),
                         info.value(QStringLiteral("CFBundleVersion")).toString()));
        return 0;
    }
    case CommandLine::Action::Invalid:
        printTo(stderr, QStringLiteral("varno: %1\n%2").arg(command.error, CommandLine::usage()));
        return 2;
    case CommandLine::Action::RegisterURLHandler: {
        QCoreApplication app(argc, argv);
        SchemeRegistrationOptions options = registrationOptions();
        options.replaceExisting = true;
        const SchemeRegistration result = registerSchemeHandler(options);
        const bool ok = result.status != SchemeRegistration::Status::Failed;
        printTo(ok ? stdout : stderr, describeRegistration(result));
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
        printTo(stderr, command.action == CommandLine::Action::OpenURL
                            ? QStringLiteral("varno: Varno is not running, so this sign-in link "
                                             "cannot be used. Start Varno and sign in again.\n")
                            : QStringLiteral("varno: Varno is not running.\n"));
        return 1;
    }
    SingleInstance::Role role;
    try {
        role = instance.claim();
    } catch (const AppError& error) {
        printTo(stderr, QStringLiteral("varno: %1\n").arg(error.message()));
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
    quitOnTerminationSignals();
    try {
        instance.listen();
    } catch (const AppError& error) {
        printTo(stderr, QStringLiteral("varno: %1\n").arg(error.message()));
        return 1;
    }

    VarnoApp varno(VarnoAppOptions::fromEnvironment());
    instance.setHandler([&varno](const InstanceRequest& request) { return varno.handle(request); });
    app.installEventFilter(varno.router());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &varno,
                     [&varno] { varno.controller()->applicationWillTerminate(); });
    varno.start();
    if (command.action == CommandLine::Action::Toggle)
        varno.controller()->togglePanel();
    return app.exec();
}

VarnoApp::VarnoApp(VarnoAppOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)),
      analytics_(Analytics::configured(options_.bundleInfo, options_.telemetry)),
      settings_(settings::openStandardSettings()),
      network_(std::make_unique<QNetworkAccessManager>()), secrets_(SessionKeychain::systemStore()),
      router_(std::make_unique<CallbackRouter>()) {
    AppStoreActions actions;
    actions.readUsage = [](std::stop_token token) {
        return CodexBarReader::read(std::move(token));
    };
    actions.sendRequest = networkTransport(network_.get());
    actions.saveSessionAsync = [secrets = secrets_](SavedSession session) {
        return SessionKeychain::save(secrets, std::move(session));
    };
    actions.clearSessionAsync = [secrets = secrets_] { return SessionKeychain::remove(secrets); };
    actions.openGitHub = [router = router_.get()](QUrl url, std::stop_token token) {
        return router->openGitHub(std::move(url), std::move(token));
    };
    // Both roles are the user's own settings file.
    store_ = std::make_unique<AppStore>(false, std::move(actions), &analytics_, settings_.get(),
                                        settings_.get(), options_.bundleInfo);
    friendNews_ = std::make_unique<FriendNewsWatcher>(store_.get(), settings_.get());

    MenuBarParts parts;
    parts.store = store_.get();
    parts.readSession = [secrets = secrets_](std::stop_token) {
        return SessionKeychain::read(secrets);
    };
    parts.panelContent = [this](PanelVisibility* visibility, std::function<void()> onSignIn,
                                std::function<void()> onCancelSignIn) -> QWidget* {
        VarnoViewActions viewActions;
        viewActions.signIn = std::move(onSignIn);
        viewActions.cancelSignIn = std::move(onCancelSignIn);
        viewActions.quit = [this] { controller_->quit(); };
        auto* view = new VarnoView(store_.get(), std::move(viewActions));
        connect(visibility, &PanelVisibility::isVisibleChanged, view,
                &VarnoView::setRefreshEnabled);
        view->setRefreshEnabled(visibility->isVisible());
        return view;
    };
    parts.loginItem = LoginItem::forThisSystem();
    parts.friendNews = friendNews_.get();
    parts.notifier = Notifier::forThisSystem();
    controller_ = std::make_unique<MenuBarController>(std::move(parts));
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
        return router_->deliver(request.argument) ? Reply::Accepted : Reply::Ignored;
    case InstanceRequest::Kind::Development:
        if (!options_.developmentCommands)
            return Reply::Ignored;
        if (request.argument == QLatin1String("friends")) {
            controller_->showFriends();
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
