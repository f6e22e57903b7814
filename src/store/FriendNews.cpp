// SPDX-License-Identifier: MIT
#include "store/FriendNews.h"

#include "model/Formatting.h"
#include "model/KeyIndex.h"
#include "model/OutsideText.h"
#include "model/Ranking.h"

#include <QSet>

namespace varno {

namespace {

const QString requestsKey = QStringLiteral("requests");
const QString belowKey = QStringLiteral("below");
const QString passedKey = QStringLiteral("passed");

std::optional<QStringList> textList(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList list;
    for (const QVariant& element : value.toList()) {
        if (element.typeId() != QMetaType::QString)
            return std::nullopt;
        list.append(element.toString());
    }
    return list;
}

// "Ann, Bob and 3 more" for five names.
QString namesInShort(const QStringList& names) {
    // Joined, not formatted: a name may itself hold "%1".
    return names[0] + QStringLiteral(", ") + names[1] +
           QStringLiteral(" and %1 more").arg(names.size() - 2);
}

} // namespace

QVariantMap SeenFriendNews::toVariant() const {
    QVariantMap days;
    for (auto it = passed.begin(); it != passed.end(); ++it)
        days.insert(it.key(), it.value());
    return {{requestsKey, requests}, {belowKey, below}, {passedKey, days}};
}

std::optional<SeenFriendNews> SeenFriendNews::fromVariant(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = value.toMap();
    const std::optional<QStringList> requests = textList(map.value(requestsKey));
    const std::optional<QStringList> below = textList(map.value(belowKey));
    const QVariant days = map.value(passedKey);
    if (!requests || !below || days.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    SeenFriendNews seen{*requests, *below, {}};
    const QVariantMap raw = days.toMap();
    for (auto it = raw.begin(); it != raw.end(); ++it) {
        if (it.value().typeId() != QMetaType::QString)
            return std::nullopt;
        seen.passed.insert(it.key(), it.value().toString());
    }
    return seen;
}

namespace FriendNews {

QString displayName(const QString& name) {
    return personName(name);
}

Result decide(const Input& input) {
    Result result;
    SeenFriendNews& seen = result.seen;
    // The first load for an account in this run only records: what it shows may be
    // days old.
    const bool announce = input.enabled && input.previousAccount == input.account;

    const QSet<QString> seenRequests(input.seen.requests.begin(), input.seen.requests.end());
    QSet<QString> openRequests;
    QStringList requesters;
    for (const FriendRequest& request : input.dashboard.requests) {
        if (!request.incoming || request.accepted || openRequests.contains(request.id))
            continue;
        openRequests.insert(request.id);
        seen.requests.append(request.id);
        if (!seenRequests.contains(request.id))
            requesters.append(displayName(request.name));
    }

    // Above and below as the panel ranks them.
    const QList<LeaderboardEntry> board = rankedOrder(input.dashboard.leaderboard);
    qsizetype me = -1;
    for (qsizetype i = 0; i < board.size() && me < 0; ++i)
        if (board[i].isMe)
            me = i;
    QList<const LeaderboardEntry*> passers;
    if (me >= 0) {
        // Compact indexes: a long circle's ids would take tens of megabytes as sets.
        const KeyIndex wasBelow(input.seen.below);
        const KeyIndex hidden(input.hidden);
        KeyIndex friends;
        friends.reserve(board.size());
        for (qsizetype i = 0; i < board.size(); ++i) {
            const LeaderboardEntry& entry = board[i];
            if (i == me || entry.id == board[me].id || !friends.append(entry.id))
                continue;
            const bool passedToday = input.seen.passed.value(entry.id) == input.today;
            if (passedToday)
                seen.passed.insert(entry.id, input.today);
            if (i > me) {
                seen.below.append(entry.id);
                continue;
            }
            // A tie that the server happens to order the other way is no pass, and a
            // total that is no count passes nobody.
            const bool ahead = hasTokenCount(entry) &&
                               (!hasTokenCount(board[me]) || entry.total > board[me].total);
            if (wasBelow.contains(entry.id) && ahead && !passedToday && !hidden.contains(entry.id))
                passers.append(&entry);
        }
    }
    if (!announce)
        return result;

    using Kind = FriendNotice::Kind;
    if (requesters.size() > maxNoticesPerKind) {
        result.notices.append(
            {Kind::friendRequest, QStringLiteral("New friend requests"), namesInShort(requesters)});
    } else {
        for (const QString& name : requesters)
            result.notices.append(
                {Kind::friendRequest, QStringLiteral("New friend request"), name});
    }
    const QString mine = me < 0                     ? QString()
                         : hasTokenCount(board[me]) ? compactTokens(board[me].total)
                                                    : QStringLiteral("—");
    if (passers.size() > maxNoticesPerKind) {
        QStringList names;
        for (const LeaderboardEntry* entry : passers)
            names.append(displayName(entry->name));
        result.notices.append({Kind::passedYou,
                               QStringLiteral("%1 friends passed you").arg(passers.size()),
                               namesInShort(names)});
    } else {
        for (const LeaderboardEntry* entry : passers)
            result.notices.append(
                {Kind::passedYou, displayName(entry->name) + QStringLiteral(" passed you"),
                 QStringLiteral("%1 tokens vs your %2").arg(compactTokens(entry->total), mine)});
    }
    for (const LeaderboardEntry* entry : passers)
        seen.passed.insert(entry->id, input.today);
    return result;
}

} // namespace FriendNews
} // namespace varno
