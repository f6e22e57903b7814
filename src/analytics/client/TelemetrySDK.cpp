// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetrySDK.h"

#include "analytics/client/TelemetryProperties.h"
#include "analytics/client/TelemetryRemoteConfig.h"
#include "analytics/client/TelemetrySessionManager.h"
#include "analytics/client/TelemetryStorage.h"
#include "analytics/client/UuidV7.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSet>
#include <QThread>

namespace varno {

namespace {

const QString notSetUpMessage = QStringLiteral(
    "[Telemetry] Telemetry method was called without `setup` being complete. Call will be "
    "ignored.");
const QString optOutMessage = QStringLiteral("[Telemetry] Telemetry is in OptOut state.");

bool onMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void merge(QJsonObject& into, const QJsonObject& from) {
    for (auto it = from.constBegin(); it != from.constEnd(); ++it)
        into.insert(it.key(), it.value());
}

std::optional<QJsonObject> sanitizedOptional(const std::optional<QVariantMap>& properties,
                                             const TelemetryLogger& log) {
    if (!properties)
        return std::nullopt;
    return sanitizeTelemetryProperties(*properties, log);
}

} // namespace

// Follows QGuiApplication's active state on the main thread and tells the client. The
// client clears target when it goes away, under the lock, so no call reaches a dead one.
class TelemetrySDK::LifecycleObserver {
public:
    explicit LifecycleObserver(TelemetrySDK* target) : target_(target) {}

    void attach(const std::shared_ptr<LifecycleObserver>& self) {
        auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (!gui)
            return;
        context_ = new QObject;
        context_->moveToThread(gui->thread());
        previous_ = QGuiApplication::applicationState();
        const std::weak_ptr<LifecycleObserver> weak = self;
        QObject::connect(gui, &QGuiApplication::applicationStateChanged, context_,
                         [weak](Qt::ApplicationState state) {
                             if (auto observer = weak.lock())
                                 observer->changed(state);
                         });
    }

    void detach() {
        {
            std::lock_guard lock(lock_);
            target_ = nullptr;
        }
        if (context_) {
            if (QThread::currentThread() == context_->thread())
                delete context_.data();
            else
                context_->deleteLater();
        }
    }

private:
    void changed(Qt::ApplicationState state) {
        const bool wasActive = previous_ == Qt::ApplicationActive;
        const bool active = state == Qt::ApplicationActive;
        previous_ = state;
        std::lock_guard lock(lock_);
        if (!target_ || wasActive == active)
            return;
        if (active)
            target_->applicationDidBecomeActive();
        else
            target_->applicationDidEnterBackground();
    }

    std::mutex lock_;
    TelemetrySDK* target_;
    QPointer<QObject> context_;
    Qt::ApplicationState previous_ = Qt::ApplicationInactive; // main thread only
};

TelemetrySDK& TelemetrySDK::shared() {
    // Never destroyed: code running at exit may still flush through it.
    static TelemetrySDK* instance = new TelemetrySDK();
    return *instance;
}

TelemetrySDK::TelemetrySDK() : TelemetrySDK(Options{}) {}

TelemetrySDK::TelemetrySDK(Options options) : options_(std::move(options)) {}

TelemetrySDK::~TelemetrySDK() {
    if (lifecycle_)
        lifecycle_->detach();
    if (queue_)
        queue_->stop();
}

void TelemetrySDK::setApplicationInfo(const TelemetryApplicationInfo& info) {
    std::lock_guard lock(setupLock_);
    applicationInfo_ = info;
}

TelemetryLogger TelemetrySDK::logger() const {
    // Before setup nothing says whether debug is on, so only an injected logger hears.
    return isEnabled() ? log_ : TelemetryLogger{};
}

void TelemetrySDK::log(const QString& message) const {
    telemetryLog(logger(), message);
}

bool TelemetrySDK::checkEnabled() {
    if (isEnabled())
        return true;
    // A setup running on another thread finishes before this answer is given.
    std::lock_guard lock(setupLock_);
    if (isEnabled())
        return true;
    telemetryLog(log_, notSetUpMessage);
    return false;
}

QDateTime TelemetrySDK::now() const {
    return options_.clock ? options_.clock().toUTC() : QDateTime::currentDateTimeUtc();
}

void TelemetrySDK::setup(const TelemetryConfig& config) {
    std::lock_guard lock(setupLock_);
    if (!isEnabled())
        log_ = config.debug ? (options_.log ? options_.log : telemetryStdoutLogger(true))
                            : TelemetryLogger{};

    if (isEnabled()) {
        telemetryLog(log_, QStringLiteral("[Telemetry] Setup called despite already being setup!"));
        return;
    }
    if (config.projectToken.isEmpty()) {
        telemetryLog(log_, QStringLiteral("[Telemetry] Telemetry SDK will be disabled because "
                                          "projectToken or apiKey is empty."));
        return;
    }
    {
        static std::mutex tokensLock;
        static QSet<QString> tokens;
        std::lock_guard tokensGuard(tokensLock);
        if (tokens.contains(config.projectToken))
            telemetryLog(log_, QStringLiteral("Project token: %1 already has a Telemetry instance.")
                                   .arg(config.projectToken));
        tokens.insert(config.projectToken);
    }

    config_ = config;
    const TelemetryApplicationInfo application =
        applicationInfo_.value_or(TelemetryApplicationInfo{}).completed();
    const QString folder =
        config.storageFolder.isEmpty()
            ? TelemetryStorage::defaultAppFolder(application.identifier, config.projectToken)
            : config.storageFolder;
    storage_ = std::make_unique<TelemetryStorage>(folder, log_);

    api_ = std::make_shared<TelemetryApi>(
        config, TelemetryApi::Options{options_.transport, options_.clock, {}, log_});
    remoteConfig_ = std::make_unique<TelemetryRemoteConfig>(
        config, options_.transport ? options_.transport : telemetryNetworkTransport(), log_);
    remoteConfig_->loadRemoteConfig();

    reachability_ = options_.reachability;
    if (!reachability_ && onMainThread())
        reachability_ = makeTelemetryNetworkReachability();
    context_ = std::make_unique<TelemetryContext>(
        application, options_.device.value_or(TelemetryDeviceInfo::current()), reachability_);
    context_->registerNotifications();

    std::optional<bool> storedOptOut;
    if (config.persistOptOut)
        storedOptOut = storage_->boolean(TelemetryStorage::Key::optOut);
    optOut_ = storedOptOut.value_or(config.optOut);

    queue_ = std::make_unique<TelemetryEventQueue>(
        config, folder, telemetryEventsEndpoint(api_),
        TelemetryQueueEnvironment{options_.monotonicClock, reachability_, {}, log_});
    queue_->start();

    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    const bool inBackground = options_.followApplicationState && gui &&
                              QGuiApplication::applicationState() != Qt::ApplicationActive;
    sessionManager_ = std::make_unique<TelemetrySessionManager>(options_.clock, log_);
    sessionManager_->setup(config, inBackground);
    sessionManager_->startSession();

    if (options_.followApplicationState) {
        lifecycle_ = std::make_shared<LifecycleObserver>(this);
        lifecycle_->attach(lifecycle_);
    }

    enabled_.store(true, std::memory_order_release);
    telemetryLog(log_, QStringLiteral("Setup complete, storing in %1").arg(folder));
}

QString TelemetrySDK::anonymousIdLocked() {
    if (cachedAnonymousId_)
        return *cachedAnonymousId_;
    if (auto stored = storage_->string(TelemetryStorage::Key::anonymousId);
        stored && !stored->isEmpty()) {
        cachedAnonymousId_ = *stored;
        return *stored;
    }
    QUuid uuid = UuidV7::generate();
    if (config_->getAnonymousId)
        uuid = config_->getAnonymousId(uuid);
    if (uuid.isNull())
        uuid = UuidV7::generate();
    const QString id = UuidV7::toText(uuid);
    cachedAnonymousId_ = id;
    storage_->setValue(TelemetryStorage::Key::anonymousId, id);
    return id;
}

QString TelemetrySDK::distinctIdLocked() {
    if (cachedDistinctId_)
        return *cachedDistinctId_;
    if (auto stored = storage_->string(TelemetryStorage::Key::distinctId);
        stored && !stored->isEmpty()) {
        cachedDistinctId_ = *stored;
        return *stored;
    }
    return anonymousIdLocked();
}

QString TelemetrySDK::getDistinctId() {
    if (!checkEnabled())
        return {};
    std::lock_guard lock(identityLock_);
    return distinctIdLocked();
}

QString TelemetrySDK::getAnonymousId() {
    if (!checkEnabled())
        return {};
    std::lock_guard lock(identityLock_);
    return anonymousIdLocked();
}

bool TelemetrySDK::isIdentified() {
    if (!isEnabled())
        return false;
    return storage_->boolean(TelemetryStorage::Key::isIdentified).value_or(false);
}

bool TelemetrySDK::hasPersonProcessing() {
    switch (config_->personProfiles) {
    case TelemetryConfig::PersonProfiles::never:
        return false;
    case TelemetryConfig::PersonProfiles::always:
        return true;
    case TelemetryConfig::PersonProfiles::identifiedOnly:
        break;
    }
    return isIdentified() ||
           storage_->boolean(TelemetryStorage::Key::personProcessingEnabled).value_or(false);
}

void TelemetrySDK::identify(const QString& distinctId, const QVariantMap& userProperties) {
    identify(distinctId, userProperties.isEmpty() ? std::nullopt : std::optional(userProperties),
             std::nullopt);
}

void TelemetrySDK::identify(const QString& distinctId,
                            const std::optional<QVariantMap>& userProperties,
                            const std::optional<QVariantMap>& userPropertiesSetOnce) {
    if (!checkEnabled())
        return;
    if (distinctId.isEmpty()) {
        log(QStringLiteral("identify call not allowed, distinctId is invalid: ") + distinctId);
        return;
    }
    if (optOut_) {
        log(optOutMessage);
        return;
    }
    if (config_->personProfiles == TelemetryConfig::PersonProfiles::never) {
        log(QStringLiteral("identify was called, but `personProfiles` is set to `never`. This "
                           "call will be ignored."));
        return;
    }

    std::lock_guard change(identityChangeLock_);
    QString current;
    QString anonymous;
    {
        std::lock_guard lock(identityLock_);
        current = distinctIdLocked();
        anonymous = anonymousIdLocked();
    }
    const bool identified = isIdentified();
    const auto set = sanitizedOptional(userProperties, logger());
    const auto setOnce = sanitizedOptional(userPropertiesSetOnce, logger());

    if (!identified || current != distinctId) {
        // Person processing is on before "$identify" is built, so that the event which
        // creates the person is itself processed.
        storage_->setValue(TelemetryStorage::Key::personProcessingEnabled, true);
        CaptureRequest request;
        request.event = QStringLiteral("$identify");
        request.distinctId = distinctId;
        request.properties = {{QStringLiteral("$anon_distinct_id"), anonymous}};
        request.userProperties = set;
        request.userPropertiesSetOnce = setOnce;
        request.personEvent = true;
        captureEvent(request);
        {
            std::lock_guard lock(identityLock_);
            storage_->setValue(TelemetryStorage::Key::distinctId, distinctId);
            cachedDistinctId_ = distinctId;
        }
        storage_->setValue(TelemetryStorage::Key::isIdentified, true);
        reloadFeatureFlags();
        return;
    }
    if (set || setOnce) {
        CaptureRequest request;
        request.event = QStringLiteral("$set");
        request.distinctId = distinctId;
        request.userProperties = set;
        request.userPropertiesSetOnce = setOnce;
        request.personEvent = true;
        request.deduplicate = true;
        captureEvent(request);
    }
}

void TelemetrySDK::reset() {
    if (!checkEnabled())
        return;
    {
        std::lock_guard change(identityChangeLock_);
        const bool keepAnonymousId = config_->reuseAnonymousId;
        {
            std::lock_guard lock(identityLock_);
            storage_->reset(keepAnonymousId);
            cachedDistinctId_.reset();
            if (!keepAnonymousId)
                cachedAnonymousId_.reset();
        }
        sessionManager_->resetSession();
        remoteConfig_->clearFeatureFlags();
    }
    reloadFeatureFlags();
}

void TelemetrySDK::reloadFeatureFlags() {
    // The flags request carries the identity: an opted-out user sends none.
    if (optOut_)
        return;
    TelemetryRemoteConfig::FlagsIdentity identity;
    {
        std::lock_guard lock(identityLock_);
        identity.distinctId = distinctIdLocked();
        identity.anonymousId = anonymousIdLocked();
        identity.deviceId = identity.anonymousId;
    }
    remoteConfig_->reloadFeatureFlags(identity);
}

void TelemetrySDK::capture(const QString& event, const QVariantMap& properties) {
    if (!checkEnabled())
        return;
    if (optOut_) {
        log(optOutMessage);
        return;
    }
    if (!queue_)
        return;
    CaptureRequest request;
    request.event = event;
    {
        std::lock_guard lock(identityLock_);
        request.distinctId = distinctIdLocked();
    }
    request.properties = sanitizeTelemetryProperties(properties, logger());
    captureEvent(request);
}

QJsonObject TelemetrySDK::buildProperties(const CaptureRequest& request,
                                          const QDateTime& timestamp) {
    QJsonObject properties = context_->staticContext();
    merge(properties, context_->dynamicContext());
    if (auto registered = storage_->dictionary(TelemetryStorage::Key::registerProperties))
        merge(properties, *registered);
    if (auto groups = storage_->dictionary(TelemetryStorage::Key::groups);
        groups && !groups->isEmpty())
        properties.insert(QStringLiteral("$groups"), *groups);

    if (request.userProperties)
        properties.insert(QStringLiteral("$set"), *request.userProperties);
    if (request.userPropertiesSetOnce)
        properties.insert(QStringLiteral("$set_once"), *request.userPropertiesSetOnce);

    properties.insert(QStringLiteral("$is_identified"), isIdentified());
    properties.insert(QStringLiteral("$process_person_profile"), hasPersonProcessing());
    merge(properties, TelemetryContext::libraryProperties());

    const QJsonValue given = request.properties.value(QStringLiteral("$session_id"));
    const bool hasOwnSession = given.isString() && !given.toString().isEmpty();
    if (!hasOwnSession) {
        if (auto session = sessionManager_->getSessionId(timestamp))
            properties.insert(QStringLiteral("$session_id"), *session);
    }

    for (auto it = request.properties.constBegin(); it != request.properties.constEnd(); ++it) {
        // An empty session id of the caller's would only hide the real one.
        if (it.key() == QLatin1String("$session_id") && !hasOwnSession)
            continue;
        properties.insert(it.key(), it.value());
    }
    return properties;
}

void TelemetrySDK::captureEvent(const CaptureRequest& request) {
    const QDateTime timestamp = now();
    const QJsonObject properties = buildProperties(request, timestamp);
    const TelemetryEvent event(request.event, request.distinctId, properties.toVariantMap(),
                               timestamp, UuidV7::generate());

    if (!request.personEvent || (!request.userProperties && !request.userPropertiesSetOnce)) {
        queue_->add(event);
        return;
    }
    const QString fingerprint = personPropertiesFingerprint(
        request.distinctId, request.userProperties, request.userPropertiesSetOnce);
    std::lock_guard lock(fingerprintLock_);
    if (request.deduplicate &&
        storage_->string(TelemetryStorage::Key::personPropertiesHash) == fingerprint)
        return;
    if (queue_->add(event))
        storage_->setValue(TelemetryStorage::Key::personPropertiesHash, fingerprint);
}

void TelemetrySDK::flush() {
    if (!checkEnabled())
        return;
    queue_->flush();
}

void TelemetrySDK::registerProperties(const QVariantMap& properties) {
    if (!checkEnabled())
        return;
    std::lock_guard lock(identityChangeLock_);
    QJsonObject registered =
        storage_->dictionary(TelemetryStorage::Key::registerProperties).value_or(QJsonObject{});
    merge(registered, sanitizeTelemetryProperties(properties, logger()));
    storage_->setValue(TelemetryStorage::Key::registerProperties, registered);
}

void TelemetrySDK::unregisterProperties(const QString& key) {
    if (!checkEnabled())
        return;
    std::lock_guard lock(identityChangeLock_);
    QJsonObject registered =
        storage_->dictionary(TelemetryStorage::Key::registerProperties).value_or(QJsonObject{});
    registered.remove(key);
    storage_->setValue(TelemetryStorage::Key::registerProperties, registered);
}

void TelemetrySDK::optOut() {
    if (!checkEnabled())
        return;
    optOut_ = true;
    if (config_->persistOptOut)
        storage_->setValue(TelemetryStorage::Key::optOut, true);
}

void TelemetrySDK::optIn() {
    if (!checkEnabled())
        return;
    optOut_ = false;
    if (config_->persistOptOut)
        storage_->setValue(TelemetryStorage::Key::optOut, false);
}

bool TelemetrySDK::isOptOut() const {
    return optOut_;
}

std::optional<QString> TelemetrySDK::currentSessionId() {
    if (!isEnabled())
        return std::nullopt;
    return sessionManager_->getSessionId(now(), /*readOnly=*/true);
}

QString TelemetrySDK::storageFolder() const {
    return isEnabled() ? storage_->appFolder() : QString();
}

QString TelemetrySDK::queueFolder() const {
    return isEnabled() ? queue_->folder() : QString();
}

void TelemetrySDK::applicationDidBecomeActive() {
    if (!isEnabled())
        return;
    sessionManager_->applicationDidBecomeActive();
}

void TelemetrySDK::applicationDidEnterBackground() {
    if (!isEnabled())
        return;
    sessionManager_->applicationDidEnterBackground();
    queue_->flush();
}

} // namespace varno
