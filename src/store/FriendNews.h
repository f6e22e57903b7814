// SPDX-License-Identifier: MIT
#pragma once

#include "model/Records.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace varno {

// What this machine last saw of one account's dashboard. It holds ids of the current
// dashboard only, so it stays as small as the dashboard.
struct SeenFriendNews {
    QStringList requests;          // incoming friend requests still open
    QStringList below;             // friends ranked below the user
    QMap<QString, QString> passed; // friend id -> today, when they passed the user today

    bool operator==(const SeenFriendNews&) const = default;

    // The settings form: a map of "requests", "below" (lists of text) and "passed"
    // (a map of text to text). Anything else reads as none.
    QVariantMap toVariant() const;
    static std::optional<SeenFriendNews> fromVariant(const QVariant& value);
};

// One desktop notification.
struct FriendNotice {
    enum class Kind { friendRequest, passedYou };
    Kind kind = Kind::friendRequest;
    QString title;
    QString body;

    bool operator==(const FriendNotice&) const = default;
};

// Decides which notifications one dashboard load brings, by comparing it with what
// was seen before. Pure: everything it needs comes in, everything it decides goes out.
namespace FriendNews {

struct Input {
    QString account; // the signed-in account's key
    // The account of the previous load in this run since the session began; none
    // after a start or a sign-in. A load for another account only records.
    std::optional<QString> previousAccount;
    SeenFriendNews seen; // what is stored for `account` (empty when nothing is)
    Dashboard dashboard;
    QStringList hidden; // friends hidden under `account`: they never notify
    QString today;      // the local day, yyyy-MM-dd
    bool enabled = true;
};

struct Result {
    QList<FriendNotice> notices;
    SeenFriendNews seen; // what to store for `account` now
};

Result decide(const Input& input);

// More new items of one kind than this in one load become a single summary.
inline constexpr int maxNoticesPerKind = 3;

// A name from the server made fit for one line of a notification: no control or
// direction-changing characters, spaces collapsed, at most 64 characters, isolated so
// that it cannot reorder the words around it; "Someone" when nothing is left.
QString displayName(const QString& name);

} // namespace FriendNews
} // namespace varno
