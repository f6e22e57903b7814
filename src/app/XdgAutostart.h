// SPDX-License-Identifier: MIT
#pragma once

#include "app/LoginItem.h"

#include <QByteArray>
#include <QString>

namespace varno {

// The login item of XDG desktops: a desktop entry in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart) that starts the executable when the session starts.
class XdgAutostart : public LoginItem {
public:
    // `desktopEntry` is the application's own entry, whose name, icon and comment
    // the autostart entry keeps.
    XdgAutostart(QString autostartDirectory, QString executable, QByteArray desktopEntry);

    // The user's autostart folder, for the running executable.
    static std::unique_ptr<XdgAutostart> forCurrentUser(const QByteArray& desktopEntry);

    // On while the entry exists and the desktop would honour it (no Hidden=true,
    // no X-GNOME-Autostart-enabled=false).
    bool isEnabled() const override;
    // Writes the entry (mode 0600, replaced atomically) or removes it.
    void setEnabled(bool enabled) override;

    QString entryPath() const;

private:
    QByteArray entryText() const;

    QString directory_;
    QString executable_;
    QByteArray desktopEntry_;
};

} // namespace varno
