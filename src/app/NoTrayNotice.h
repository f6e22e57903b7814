#pragma once

#include <QString>

namespace varno {

// What Varno says when the desktop has no tray to hold its icon, so that a user still
// knows it runs and how to reach it.
namespace NoTrayNotice {

QString terminalText();
QString notificationSummary();
QString notificationBody();
// Standard error and, where a notification service runs, a desktop notification.
void announce();

} // namespace NoTrayNotice
} // namespace varno
