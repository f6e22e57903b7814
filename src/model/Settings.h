// SPDX-License-Identifier: MIT
#pragma once

#include <QSettings>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace varno::settings {

// The keys the app keeps in the user's settings; nothing else is written there.
inline const QString serverURLKey = QStringLiteral("serverURL");
inline const QString deviceIdKey = QStringLiteral("deviceId");
inline const QString hiddenFriendsByAccountKey = QStringLiteral("hiddenFriendsByAccount");
// The "Notifications" menu item's state.
inline const QString notificationsEnabledKey = QStringLiteral("notificationsEnabled");
// Per account key: what the last dashboard load showed, for desktop notifications.
inline const QString friendNewsByAccountKey = QStringLiteral("friendNewsByAccount");

// Where requests go when neither the user nor the build names a server.
inline const QString developmentServerURL = QStringLiteral("http://localhost:3000");

// The user's own settings store (an INI file under ~/.config on Linux, the
// application's defaults domain on macOS), with maps kept in an older form upgraded.
// Maps are stored as JSON text, which stays readable in the INI file.
std::unique_ptr<QSettings> openStandardSettings();

// The server address: the user's "serverURL" if it is text, else the build's
// VarnoServerURL if it is text, else the development server. Used unchanged;
// the server client checks it on every request.
QString chooseServerURL(const QSettings& standard, const QVariantMap& bundleInfo);

// This installation's id: the stored text, or a new upper-case UUID, which is
// stored, so it stays the same until the settings are deleted.
QString loadOrCreateDeviceId(QSettings& defaults);

// Rewrites the maps that an older Varno stored as binary values (an INI file shows
// them as "@Variant(…)") in the readable form. Their entries stay as they were.
void upgradeStoredMaps(QSettings& defaults);

// Hidden friends per account key, or an empty map when the stored value is
// missing or not a map of text to lists of text.
QMap<QString, QStringList> readHiddenFriends(const QSettings& defaults);
void writeHiddenFriends(QSettings& defaults, const QMap<QString, QStringList>& map);

// What the last dashboard load showed, per account key, unchecked: each record's
// shape is the notification watcher's to judge. Empty when missing or not a map.
QVariantMap readFriendNewsByAccount(const QSettings& defaults);
void writeFriendNewsByAccount(QSettings& defaults, const QVariantMap& records);

// The INI file behind these settings, for a QSettings of its own on another thread
// (QSettings objects are reentrant, and those on one file share what they hold); empty
// where the settings are no such file (macOS's native store).
QString iniFileOf(const QSettings& defaults);

// Whether desktop notifications are on: on unless the user turned them off. A value
// that is neither a boolean nor the text "true" or "false" counts as on.
bool readNotificationsEnabled(const QSettings& defaults);
void writeNotificationsEnabled(QSettings& defaults, bool enabled);

} // namespace varno::settings
