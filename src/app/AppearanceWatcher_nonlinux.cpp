// SPDX-License-Identifier: MIT
#include "app/AppearanceWatcher.h"

#include <QTimer>

namespace varno {

class AppearanceWatcher::Portal {};

AppearanceWatcher::AppearanceWatcher(const QString&, QObject* parent) : QObject(parent) {
    QTimer::singleShot(0, this, &AppearanceWatcher::setKnown);
}

AppearanceWatcher::~AppearanceWatcher() = default;

AppearanceWatcher::ColorScheme AppearanceWatcher::fromPortalValue(const QVariant&) {
    return ColorScheme::NoPreference;
}

} // namespace varno
