// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/Analytics.h"
#include "auth/CallbackRouter.h"

#include <QObject>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <stop_token>

class QSettings;

namespace varno {

class AppStore;
class SessionStorage;
class TelemetryClient;
struct SavedSession;

struct AppCoreOptions {
    QVariantMap bundleInfo;
    // The analytics client; none leaves analytics off.
    TelemetryClient* telemetry = nullptr;
    // Where the session is kept. Required.
    std::shared_ptr<SessionStorage> sessionStorage;
    // Shows the sign-in page (the browser on a desktop, the terminal without one).
    CallbackRouter::Opener opener = CallbackRouter::defaultOpener();

    // The build's configuration and the process's analytics client (which does
    // nothing until the wrapper sets it up, and that needs a token and an https
    // host). The session storage is left to the caller.
    static AppCoreOptions forThisBuild();
};

// What every Varno is built of, with or without a desktop: the user's settings,
// analytics, the network, where the session is kept, the callback router and the
// one store with its real actions. Lives on the main thread.
class AppCore : public QObject {
    Q_OBJECT
public:
    explicit AppCore(AppCoreOptions options, QObject* parent = nullptr);
    ~AppCore() override;

    AppStore* store() const { return store_.get(); }
    CallbackRouter* router() const { return router_.get(); }
    QSettings* settings() const { return settings_.get(); }
    const std::shared_ptr<SessionStorage>& sessionStorage() const { return storage_; }
    const QVariantMap& bundleInfo() const { return options_.bundleInfo; }

    // The saved session, read without blocking (for session restoration).
    std::function<QCoro::Task<std::optional<SavedSession>>(std::stop_token)> sessionReader() const;

    // Where the commands that also run without a desktop keep the session: the
    // session file when there is one, else the keyring when it answers within a few
    // seconds, else a new session file (SessionStorage::forThisMachine).
    static QCoro::Task<std::shared_ptr<SessionStorage>> sessionStorageForThisMachine();

private:
    AppCoreOptions options_;
    Analytics analytics_;
    std::unique_ptr<QSettings> settings_;
    std::shared_ptr<SessionStorage> storage_;
    std::unique_ptr<CallbackRouter> router_;
    std::unique_ptr<AppStore> store_;
};

} // namespace varno
