// SPDX-License-Identifier: MIT
#pragma once

#include "app/SingleInstance.h"

#include <QObject>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace varno {

class AppCore;
class AppStore;
class CallbackRouter;
class FriendNewsWatcher;
class MenuBarController;
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

// The composition root of the tray app: the parts every Varno has (AppCore), friend
// news and the menu-bar controller; runs the launch and quit steps.
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

    AppStore* store() const;
    MenuBarController* controller() const { return controller_.get(); }
    CallbackRouter* router() const;
    // What this Varno tells another `varno --status`.
    QByteArray status() const;

private:
    void writeStartupReport();
    void installSchemeHandlerInBackground();

    VarnoAppOptions options_;
    std::unique_ptr<AppCore> core_;
    std::unique_ptr<FriendNewsWatcher> friendNews_;
    std::unique_ptr<MenuBarController> controller_;
};

} // namespace varno
