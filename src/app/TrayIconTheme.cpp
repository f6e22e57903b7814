// SPDX-License-Identifier: MIT
#include "app/TrayIconTheme.h"

#include "app/ChartIcon.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QPalette>

#include <cmath>

namespace varno {

TrayIconTheme::TrayIconTheme(QObject* parent) : QObject(parent) {
    connect(&appearance_, &AppearanceWatcher::colorSchemeChanged, this, &TrayIconTheme::update);
    connect(&tray_, &TrayColourWatcher::foregroundChanged, this, &TrayIconTheme::update);
    QCoreApplication::instance()->installEventFilter(this);
    colour_ = colourFor(tray_.foreground(), trayBackground_, appearance_.colorScheme(),
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

void TrayIconTheme::setTrayBackground(std::optional<QColor> background) {
    trayBackground_ = std::move(background);
    update();
}

QColor TrayIconTheme::colourFor(std::optional<QColor> trayForeground,
                                std::optional<QColor> trayBackground,
                                AppearanceWatcher::ColorScheme scheme,
                                const QColor& paletteWindow) {
    if (trayForeground && trayForeground->isValid())
        return QColor(trayForeground->rgb());
    // Black or white, whichever stands out more: black wins from a luminance of 0.18 up.
    if (trayBackground && trayBackground->isValid()) {
        const auto linear = [](double c) {
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        const double luminance = 0.2126 * linear(trayBackground->redF()) +
                                 0.7152 * linear(trayBackground->greenF()) +
                                 0.0722 * linear(trayBackground->blueF());
        return luminance > 0.179 ? Qt::black : Qt::white;
    }
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

std::optional<QColor> TrayIconTheme::backgroundOf(const QImage& place) {
    if (place.width() < 3 || place.height() < 3)
        return std::nullopt;
    QHash<QRgb, int> counts;
    for (int x = 0; x < place.width(); ++x) {
        ++counts[place.pixel(x, 0) | 0xff000000];
        ++counts[place.pixel(x, place.height() - 1) | 0xff000000];
    }
    for (int y = 1; y < place.height() - 1; ++y) {
        ++counts[place.pixel(0, y) | 0xff000000];
        ++counts[place.pixel(place.width() - 1, y) | 0xff000000];
    }
    auto commonest = counts.constBegin();
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        if (it.value() > commonest.value())
            commonest = it;
    return QColor::fromRgb(commonest.key());
}

bool TrayIconTheme::eventFilter(QObject* watched, QEvent* event) {
    if (watched == QCoreApplication::instance() &&
        event->type() == QEvent::ApplicationPaletteChange)
        update();
    return QObject::eventFilter(watched, event);
}

void TrayIconTheme::update() {
    const QColor colour = colourFor(tray_.foreground(), trayBackground_, appearance_.colorScheme(),
                                    QGuiApplication::palette().color(QPalette::Window));
    if (colour == colour_)
        return;
    colour_ = colour;
    emit changed();
}

} // namespace varno
