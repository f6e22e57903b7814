#pragma once

#include "analytics/Analytics.h"
#include "app/SingleInstance.h"

#include <QObject>
#include <QVariantMap>

#include <memory>
#include <optional>

class QNetworkAccessManager;
class QSettings;

namespace varno {

class AppStore;
class CallbackRouter;
class FriendNewsWatcher;
class MenuBarController;
class SecretStore;
class TelemetryClient;

struct VarnoAppOptions {
    QVariantMap bundleInfo;
    // The analytics client; none leaves analytics off.
    TelemetryClient* telemetry = nullptr;
    // Install the varno:// handler for the user on first start.
    bool installSchemeHandler = true;
    // Accept `varno --dev COMMAND` (set VARNO_DEVELOPMENT=1 when starting Varno).
    bool developmentCommands = false;
    // Write "tray_shown_ms=N" (milliseconds since process start) to this file once
    // the status item is up; for the start-up benchmark (VARNO_STARTUP_REPORT).
    QString startupReport;

    static VarnoAppOptions fromEnvironment();
};

// The composition root: the analytics wrapper, the store with its real actions,
// the callback router, the menu-bar controller; runs the launch and quit steps.
class VarnoApp : public QObject {
    Q_OBJECT
public:
    // The whole program behind main(): parses the command line, forwards to a
    // running instance or runs the tray app. Returns the exit status.
    static int main(int argc, char** argv);

    explicit VarnoApp(VarnoAppOptions options, QObject* parent = nullptr);
    ~VarnoApp() override;

    // The launch sequence; call once the event loop is about to run.
    void start();

    // A request forwarded by a second `varno` process.
    SingleInstance::Reply handle(const InstanceRequest& request);

    AppStore* store() const { return store_.get(); }
    MenuBarController* controller() const { return controller_.get(); }
    CallbackRouter* router() const { return router_.get(); }

private:
    void writeStartupReport();
    void installSchemeHandlerInBackground();

    VarnoAppOptions options_;
    Analytics analytics_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<QNetworkAccessManager> network_;
    std::shared_ptr<SecretStore> secrets_;
    std::unique_ptr<CallbackRouter> router_;
    std::unique_ptr<AppStore> store_;
    std::unique_ptr<FriendNewsWatcher> friendNews_;
    std::unique_ptr<MenuBarController> controller_;
};

} // namespace varno
