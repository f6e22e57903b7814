// SPDX-License-Identifier: MIT
#include "app/AppCore.h"

#include "analytics/client/TelemetryContext.h"
#include "analytics/client/TelemetrySDK.h"
#include "app/BundleInfo.h"
#include "auth/QtKeychainSecretStore.h"
#include "auth/SessionFile.h"
#include "auth/SessionStorage.h"
#include "model/Settings.h"
#include "store/AppStore.h"
#include "store/HttpTransport.h"
#include "usage/CodexBarReader.h"

#include <QSettings>

namespace varno {

AppCoreOptions AppCoreOptions::forThisBuild() {
    AppCoreOptions options;
    options.bundleInfo = BundleInfo::main();
    TelemetrySDK& telemetry = TelemetrySDK::shared();
    telemetry.setApplicationInfo(TelemetryApplicationInfo::fromInfoDictionary(options.bundleInfo));
    options.telemetry = &telemetry;
    return options;
}

AppCore::AppCore(AppCoreOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)),
      analytics_(Analytics::configured(options_.bundleInfo, options_.telemetry)),
      settings_(settings::openStandardSettings()),
      storage_(options_.sessionStorage),
      router_(std::make_unique<CallbackRouter>(options_.opener)) {
    Q_ASSERT(storage_);
    AppStoreActions actions;
    actions.readUsage = [](std::stop_token token) {
        return CodexBarReader::read(std::move(token));
    };
    actions.sendRequest = networkTransport();
    actions.saveSessionAsync = [storage = storage_](SavedSession session) {
        return storage->save(std::move(session));
    };
    actions.clearSessionAsync = [storage = storage_] { return storage->remove(); };
    actions.openGitHub = [router = router_.get()](QUrl url, std::stop_token token) {
        return router->openGitHub(std::move(url), std::move(token));
    };
    // Both roles are the user's own settings file.
    store_ = std::make_unique<AppStore>(false, std::move(actions), &analytics_, settings_.get(),
                                        settings_.get(), options_.bundleInfo);
}

AppCore::~AppCore() = default;

std::function<QCoro::Task<std::optional<SavedSession>>(std::stop_token)>
AppCore::sessionReader() const {
    return [storage = storage_](std::stop_token) { return storage->read(); };
}

QCoro::Task<std::shared_ptr<SessionStorage>> AppCore::sessionStorageForThisMachine() {
    // A keyring that is there answers in well under a second; one that must first
    // be started by D-Bus activation in a few.
    constexpr auto keyringAnswer = std::chrono::seconds(10);
    co_return co_await SessionStorage::forThisMachine(
        std::make_shared<QtKeychainSecretStore>(keyringAnswer), SessionFile::defaultPath());
}

} // namespace varno
