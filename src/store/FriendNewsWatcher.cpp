// SPDX-License-Identifier: MIT
#include "store/FriendNewsWatcher.h"

#include "async/Background.h"
#include "async/Job.h"
#include "model/Formatting.h"
#include "model/Settings.h"
#include "store/AppStore.h"

#include <algorithm>

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

struct Decided {
    QList<FriendNotice> notices;
    bool changed = false;
    QVariantMap records; // all accounts' records, when they changed
};

// One load against the stored records.
Decided decide(QVariantMap records, const FriendNews::Input& load) {
    const std::optional<SeenFriendNews> stored =
        SeenFriendNews::fromVariant(records.value(load.account));
    FriendNews::Input input = load;
    input.seen = stored.value_or(SeenFriendNews{});
    FriendNews::Result result = FriendNews::decide(input);
    // "below" is a set: kept sorted, friends moving about below the user change nothing
    // stored (an older Varno kept it in rank order; both read the same).
    std::sort(result.seen.below.begin(), result.seen.below.end());
    std::optional<SeenFriendNews> before = stored;
    if (before)
        std::sort(before->below.begin(), before->below.end());
    Decided out{std::move(result.notices), result.seen != before, {}};
    if (out.changed) {
        records.insert(load.account, result.seen.toVariant());
        out.records = std::move(records);
    }
    return out;
}

} // namespace

// Reads, decides and writes on a worker, through a settings handle of its own where
// the settings are a file (QSettings objects on one file may live on different threads).
QCoro::Task<void> decideInBackground(QPointer<FriendNewsWatcher> self,
                                     std::shared_ptr<FriendNews::Input> input, QString iniFile,
                                     std::optional<QVariantMap> records, std::stop_token token) {
    const auto work = [input, iniFile, records](std::stop_token) mutable {
        // Taken here, so that a dashboard this was the last to hold is freed here too.
        const FriendNews::Input load = std::move(*input);
        if (iniFile.isEmpty())
            return decide(std::move(*records), load);
        QSettings own(iniFile, QSettings::IniFormat);
        Decided out = decide(readRecords(own), load);
        if (out.changed)
            settings::writeFriendNewsByAccount(own, out.records);
        out.changed = false; // written
        out.records = {};
        return out;
    };
    Decided out = co_await runInBackground(work, token);
    if (self)
        self->decided(out.notices,
                      out.changed ? std::make_optional(std::move(out.records)) : std::nullopt);
}

FriendNewsWatcher::FriendNewsWatcher(AppStore* store, QSettings* defaults, Clock clock,
                                     QObject* parent)
    : QObject(parent), store_(store), defaults_(defaults), clock_(std::move(clock)),
      enabled_(settings::readNotificationsEnabled(*defaults)) {
    connect(store_, &AppStore::dashboardLoaded, this, &FriendNewsWatcher::dashboardLoaded);
    // Sign-in, sign-out, restoration at launch, a rejected session: whatever the
    // next load shows is old news to this run.
    connect(store_, &AppStore::sessionChanged, this, [this] { previousAccount_.reset(); });
}

FriendNewsWatcher::~FriendNewsWatcher() {
    if (deciding_)
        deciding_->cancel();
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

    FriendNews::Input input;
    input.account = *account;
    input.previousAccount = previousAccount_;
    input.dashboard = *dashboard;
    input.hidden = store_->hiddenFriendsByAccount().value(*account);
    input.today = today();
    input.enabled = enabled_;
    previousAccount_ = *account;
    // A load still waiting is superseded: comparing the newer one with what is stored
    // finds the same passes and requests. One that was only to record makes the newer
    // one only record.
    if (pending_ && pending_->previousAccount != pending_->account)
        input.previousAccount.reset();
    pending_ = std::move(input);
    decidePending();
}

void FriendNewsWatcher::decidePending() {
    if (deciding_ || !pending_)
        return;
    FriendNews::Input input = std::move(*pending_);
    pending_.reset();
    if (input.dashboard.leaderboard.size() + input.dashboard.requests.size() <= inlineRows) {
        Decided out = decide(readRecords(*defaults_), input);
        decided(out.notices,
                out.changed ? std::make_optional(std::move(out.records)) : std::nullopt);
        return;
    }
    const QString iniFile = settings::iniFileOf(*defaults_);
    std::optional<QVariantMap> records;
    if (iniFile.isEmpty())
        records = readRecords(*defaults_);
    auto held = std::make_shared<FriendNews::Input>(std::move(input));
    deciding_ = Job::start(
        [self = QPointer<FriendNewsWatcher>(this), held, iniFile, records](std::stop_token token) {
            return decideInBackground(self, held, iniFile, records, token);
        });
}

void FriendNewsWatcher::decided(const QList<FriendNotice>& notices,
                                std::optional<QVariantMap> toStore) {
    deciding_.reset();
    if (toStore)
        settings::writeFriendNewsByAccount(*defaults_, *toStore);
    for (const FriendNotice& notice : notices)
        emit this->notice(notice);
    decidePending();
}

} // namespace varno
