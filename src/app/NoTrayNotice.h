// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace varno {

class Notifier;

// What Varno says when the desktop has no tray to hold its icon, so that a user still
// knows it runs and how to reach it.
namespace NoTrayNotice {

QString terminalText();
QString notificationSummary();
QString notificationBody();
// Standard error and, through the notifier (where the desktop shows notifications),
// a desktop notification; a click on it opens the panel.
void announce(Notifier* notifier);

} // namespace NoTrayNotice
} // namespace varno
