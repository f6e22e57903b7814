#include "store/FriendNewsWatcher.h"

#include "model/Formatting.h"
#include "model/Settings.h"
#include "store/AppStore.h"

namespace varno {

namespace {

// Only entries of the right shape survive a rewrite.
QVariantMap readRecords(const QSettings& defaults) {
    QVariantMap records;
    const QVariantMap raw = settings::readFriendNewsByAccount(defaults);
    for (auto it = raw.begin(); it != raw.end(); ++it)
        if (SeenFriendNews::fromVariant(it.value()))
            records.insert(it.key(), it.value());
    return records;
}

} // namespace

FriendNewsWatcher::FriendNewsWatcher(AppStore* store, QSettings* defaults, Clock clock,
                                     QObject* parent)
    : QObject(parent), store_(store), defaults_(defaults), clock_(std::move(clock)),
      enabled_(settings::readNotificationsEnabled(*defaults)) {
    connect(store_, &AppStore::dashboardLoaded, this, &FriendNewsWatcher::dashboardLoaded);
    // Sign-in, sign-out, restoration at launch, a rejected session: whatever the
    // next load shows is old news to this run.
    connect(store_, &AppStore::sessionChanged, this, [this] { previousAccount_.reset(); });
}

void FriendNewsWatcher::setEnabled(bool enabled) {
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    settings::writeNotificationsEnabled(*defaults_, enabled);
    emit enabledChanged(enabled);
}

QString FriendNewsWatcher::today() const {
    const QDateTime now = clock_.now ? clock_.now() : QDateTime::currentDateTimeUtc();
    return localDay(now, clock_.timeZone ? clock_.timeZone() : QTimeZone::systemTimeZone());
}

void FriendNewsWatcher::dashboardLoaded() {
    const std::optional<QString> account = store_->accountKey();
    const std::optional<Dashboard>& dashboard = store_->dashboard();
    if (!account || !dashboard)
        return;

    QVariantMap records = readRecords(*defaults_);
    const std::optional<SeenFriendNews> stored =
        SeenFriendNews::fromVariant(records.value(*account));
    FriendNews::Input input;
    input.account = *account;
    input.previousAccount = previousAccount_;
    input.seen = stored.value_or(SeenFriendNews{});
    input.dashboard = *dashboard;
    input.hidden = store_->hiddenFriendsByAccount().value(*account);
    input.today = today();
    input.enabled = enabled_;
    const FriendNews::Result result = FriendNews::decide(input);
    previousAccount_ = *account;

    if (result.seen != stored) {
        records.insert(*account, result.seen.toVariant());
        settings::writeFriendNewsByAccount(*defaults_, records);
    }
    for (const FriendNotice& notice : result.notices)
        emit this->notice(notice);
}

} // namespace varno
