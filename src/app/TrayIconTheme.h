// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppearanceWatcher.h"
#include "app/TrayColours.h"

#include <QColor>
#include <QIcon>
#include <QObject>

#include <optional>

namespace varno {

// The status item's icon in a colour that reads on the bar it sits in, redrawn when
// the bar or the desktop's preference changes. In order of trust: the colour the tray
// itself asks for, the desktop's light/dark preference, the application palette.
class TrayIconTheme : public QObject {
    Q_OBJECT
public:
    explicit TrayIconTheme(QObject* parent = nullptr);

    QIcon icon() const;
    QColor colour() const;
    // Reads the tray's colours again (a tray host appeared or changed).
    void refresh();

    static QColor colourFor(std::optional<QColor> trayForeground,
                            AppearanceWatcher::ColorScheme scheme, const QColor& paletteWindow);

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();

    AppearanceWatcher appearance_;
    TrayColourWatcher tray_;
    QColor colour_;
};

} // namespace varno
