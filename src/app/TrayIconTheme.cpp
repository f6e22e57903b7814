// SPDX-License-Identifier: MIT
#include "app/TrayIconTheme.h"

#include "app/ChartIcon.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace varno {

TrayIconTheme::TrayIconTheme(QObject* parent) : QObject(parent) {
    connect(&appearance_, &AppearanceWatcher::colorSchemeChanged, this, &TrayIconTheme::update);
    connect(&tray_, &TrayColourWatcher::foregroundChanged, this, &TrayIconTheme::update);
    QCoreApplication::instance()->installEventFilter(this);
    colour_ = colourFor(tray_.foreground(), appearance_.colorScheme(),
                        QGuiApplication::palette().color(QPalette::Window));
}

QIcon TrayIconTheme::icon() const {
    return chartIcon(colour_);
}

QColor TrayIconTheme::colour() const {
    return colour_;
}

void TrayIconTheme::refresh() {
    tray_.refresh();
}

QColor TrayIconTheme::colourFor(std::optional<QColor> trayForeground,
                                AppearanceWatcher::ColorScheme scheme,
                                const QColor& paletteWindow) {
    if (trayForeground && trayForeground->isValid())
        return QColor(trayForeground->rgb());
    switch (scheme) {
    case AppearanceWatcher::ColorScheme::PreferDark:
        return Qt::white;
    case AppearanceWatcher::ColorScheme::PreferLight:
        return Qt::black;
    case AppearanceWatcher::ColorScheme::NoPreference:
        break;
    }
    return paletteWindow.lightnessF() < 0.5 ? Qt::white : Qt::black;
}

bool TrayIconTheme::eventFilter(QObject* watched, QEvent* event) {
    if (watched == QCoreApplication::instance() &&
        event->type() == QEvent::ApplicationPaletteChange)
        update();
    return QObject::eventFilter(watched, event);
}

void TrayIconTheme::update() {
    const QColor colour = colourFor(tray_.foreground(), appearance_.colorScheme(),
                                    QGuiApplication::palette().color(QPalette::Window));
    if (colour == colour_)
        return;
    colour_ = colour;
    emit changed();
}

} // namespace varno
