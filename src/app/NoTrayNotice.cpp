// SPDX-License-Identifier: MIT
#include "app/NoTrayNotice.h"

#include "app/Notifier.h"

#include <cstdio>

namespace varno::NoTrayNotice {

QString terminalText() {
    return QStringLiteral(
        "varno: this desktop has no system tray, so Varno shows no icon. It is running: "
        "\"varno --toggle\" opens and closes its panel. Bind that command to a keyboard "
        "shortcut in your desktop's settings to reach Varno with one key.\n");
}

QString notificationSummary() {
    return QStringLiteral("Varno is running without a tray icon");
}

QString notificationBody() {
    return QStringLiteral("This desktop has no system tray. Run \u201cvarno --toggle\u201d to "
                          "open the panel, or bind it to a keyboard shortcut.");
}

void announce(Notifier* notifier) {
    const QByteArray text = terminalText().toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
    std::fflush(stderr);
    if (notifier)
        notifier->show(notificationSummary(), notificationBody(), QString());
}

} // namespace varno::NoTrayNotice
