// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

namespace varno {

// The desktop's light or dark preference, as the XDG desktop portal publishes it
// (org.freedesktop.appearance color-scheme): read once at start without blocking,
// then followed as it changes. No preference where there is no portal, or it has
// no such setting.
class AppearanceWatcher : public QObject {
    Q_OBJECT
public:
    enum class ColorScheme { NoPreference, PreferDark, PreferLight };

    // An empty bus address means the session bus.
    explicit AppearanceWatcher(const QString& busAddress = {}, QObject* parent = nullptr);
    ~AppearanceWatcher() override;

    ColorScheme colorScheme() const { return scheme_; }
    // True once the first answer (or the lack of one) is in.
    bool isKnown() const { return known_; }

    // The portal's value: an unsigned 1 or 2, possibly wrapped in variants (the older
    // Read call wraps it twice). Anything else is no preference.
    static ColorScheme fromPortalValue(const QVariant& value);

signals:
    void colorSchemeChanged(ColorScheme scheme);
    void known();

private:
    class Portal;
    void setColorScheme(ColorScheme scheme);
    void setKnown();

    std::unique_ptr<Portal> portal_;
    ColorScheme scheme_ = ColorScheme::NoPreference;
    bool known_ = false;
};

} // namespace varno
