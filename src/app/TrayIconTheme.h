// SPDX-License-Identifier: MIT
#pragma once

#include "app/AppearanceWatcher.h"
#include "app/TrayColours.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QObject>

#include <optional>

namespace varno {

// The status item's icon in a colour that reads on the bar it sits in, redrawn when
// the bar or the desktop's preference changes. In order of trust: the colour the tray
// itself asks for, the tray's own pixels behind the icon (where they can be read), the
// desktop's light/dark preference, the application palette.
class TrayIconTheme : public QObject {
    Q_OBJECT
public:
    explicit TrayIconTheme(QObject* parent = nullptr);

    QIcon icon() const;
    QColor colour() const;
    // Reads the tray's colours again (a tray host appeared or changed).
    void refresh();

    // The bar's colour as read from the screen behind the icon (an XEmbed tray draws the
    // icon's background itself and publishes no colours of its own).
    void setTrayBackground(std::optional<QColor> background);
    bool hasTrayForeground() const { return tray_.foreground().has_value(); }

    static QColor colourFor(std::optional<QColor> trayForeground,
                            std::optional<QColor> trayBackground,
                            AppearanceWatcher::ColorScheme scheme, const QColor& paletteWindow);
    // The commonest colour on the edge of a picture of the icon's place: the bar, since
    // the icon keeps clear of its edges.
    static std::optional<QColor> backgroundOf(const QImage& place);

signals:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();

    AppearanceWatcher appearance_;
    TrayColourWatcher tray_;
    std::optional<QColor> trayBackground_;
    QColor colour_;
};

} // namespace varno
