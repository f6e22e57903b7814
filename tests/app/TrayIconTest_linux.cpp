// SPDX-License-Identifier: MIT
// The tray icon's colour: the tray's own request, the desktop's preference read from a
// real D-Bus portal interface, the palette last.

#include "app/AppearanceWatcher.h"
#include "app/TrayColours.h"
#include "app/TrayIconTheme.h"

#include "support/AwaitTask.h"
#include "support/Contrast.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace varno {
namespace {

using Scheme = AppearanceWatcher::ColorScheme;
using test::waitUntil;

TEST(TrayIconTheme, TheTraysOwnColourThenItsBarThenTheDesktopsPreferenceThenThePalette) {
    const QColor xfceDarkPanel(0x33, 0x33, 0x33), lightBar(0xf6, 0xf5, 0xf4);
    const QColor darkWindow(0x30, 0x30, 0x30), lightWindow(0xef, 0xef, 0xef);
    // Xfce's dark panel asks for #eeeeec, whatever the preference or the palette says.
    const auto xfce = TrayColourWatcher::foregroundFrom(
        {61166, 61166, 60652, 61166, 61166, 60652, 61166, 61166, 60652, 61166, 61166, 60652});
    ASSERT_TRUE(xfce);
    EXPECT_EQ(xfce->name(), "#eeeeec");
    for (const Scheme scheme : {Scheme::NoPreference, Scheme::PreferLight, Scheme::PreferDark})
        EXPECT_GT(
            test::contrastRatio(TrayIconTheme::colourFor(xfce, std::nullopt, scheme, lightWindow),
                                xfceDarkPanel),
            4.5);

    struct Case {
        Scheme scheme;
        QColor window, expected;
    } cases[] = {
        // A dark application theme on a light desktop: the desktop decides.
        {Scheme::PreferLight, darkWindow, Qt::black},
        {Scheme::PreferDark, lightWindow, Qt::white},
        // No preference published: the palette, as before.
        {Scheme::NoPreference, darkWindow, Qt::white},
        {Scheme::NoPreference, lightWindow, Qt::black},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TrayIconTheme::colourFor(std::nullopt, std::nullopt, c.scheme, c.window),
                  c.expected);
    EXPECT_GT(test::contrastRatio(TrayIconTheme::colourFor(std::nullopt, std::nullopt,
                                                           Scheme::PreferLight, darkWindow),
                                  lightBar),
              4.5);

    // A tray without colours of its own: the bar behind the icon beats the theme. A light
    // XEmbed tray under a dark theme, and a dark one under a light theme; the bar is read
    // from the icon's place, where a white icon sits on the light grey.
    QImage place(22, 22, QImage::Format_RGB32);
    place.fill(QColor(0xe8, 0xe8, 0xe8));
    for (int y = 4; y < 18; ++y)
        for (int x = 6; x < 16; ++x)
            place.setPixelColor(x, y, Qt::white);
    const std::optional<QColor> trayBar = TrayIconTheme::backgroundOf(place);
    ASSERT_TRUE(trayBar);
    EXPECT_EQ(trayBar->name(), "#e8e8e8");
    for (const auto& [bar, window] :
         {std::pair{*trayBar, darkWindow}, {xfceDarkPanel, lightWindow}})
        for (const Scheme scheme : {Scheme::NoPreference, Scheme::PreferLight, Scheme::PreferDark})
            EXPECT_GT(test::contrastRatio(
                          TrayIconTheme::colourFor(std::nullopt, bar, scheme, window), bar),
                      4.5)
                << bar.name().toStdString();
    EXPECT_EQ(TrayIconTheme::backgroundOf(QImage()), std::nullopt) << "nothing to read";

    // Colours a tray cannot mean: too few values, or beyond 16 bits.
    EXPECT_EQ(TrayColourWatcher::foregroundFrom({1, 2}), std::nullopt);
    EXPECT_EQ(TrayColourWatcher::foregroundFrom({70000, 0, 0}), std::nullopt);
}

// The portal's settings interface, as xdg-desktop-portal exports it; `hasReadOne`
// false stands for portals older than ReadOne.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QVariant scheme = QVariant::fromValue(1u);
    bool hasReadOne = true;

public slots:
    QDBusVariant ReadOne(const QString& group, const QString& key) {
        if (!hasReadOne) {
            sendErrorReply(QDBusError::UnknownMethod, QStringLiteral("No such method"));
            return {};
        }
        return QDBusVariant(valueOf(group, key));
    }
    QDBusVariant Read(const QString& group, const QString& key) {
        // Read wraps the value in one more variant.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(valueOf(group, key))));
    }

signals:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    QVariant valueOf(const QString& group, const QString& key) {
        if (group != QLatin1String("org.freedesktop.appearance") ||
            key != QLatin1String("color-scheme")) {
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                           QStringLiteral("Requested setting not found"));
            return {};
        }
        return scheme;
    }
};

class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus_.isRunning())
            GTEST_SKIP() << "dbus-daemon could not start (scripts/setup installs dbus)";
        service_ = bus_.connect(QStringLiteral("portal-side"));
        ASSERT_TRUE(service_.isConnected());
    }

    void publish() {
        ASSERT_TRUE(service_.registerObject(
            QStringLiteral("/org/freedesktop/portal/desktop"), &portal_,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(service_.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    test::PrivateBus bus_;
    QDBusConnection service_{QStringLiteral("unset")};
    FakePortal portal_;
};

TEST_F(PortalTest, ReadsThePreferenceOnceAndFollowsItsChanges) {
    publish();
    AppearanceWatcher watcher(bus_.address());
    ASSERT_TRUE(waitUntil([&] { return watcher.isKnown(); }));
    EXPECT_EQ(watcher.colorScheme(), Scheme::PreferDark);

    QSignalSpy changes(&watcher, &AppearanceWatcher::colorSchemeChanged);
    // Another setting, then ours; only ours counts.
    emit portal_.SettingChanged("org.gnome.desktop.interface", "color-scheme",
                                QDBusVariant(QVariant::fromValue(2u)));
    emit portal_.SettingChanged("org.freedesktop.appearance", "color-scheme",
                                QDBusVariant(QVariant::fromValue(2u)));
    ASSERT_TRUE(waitUntil([&] { return changes.size() == 1; }));
    EXPECT_EQ(watcher.colorScheme(), Scheme::PreferLight);
    emit portal_.SettingChanged("org.freedesktop.appearance", "color-scheme",
                                QDBusVariant(QVariant::fromValue(0u)));
    ASSERT_TRUE(waitUntil([&] { return changes.size() == 2; }));
    EXPECT_EQ(watcher.colorScheme(), Scheme::NoPreference);
}

TEST_F(PortalTest, OlderPortalsAndOddValuesAndNoPortal) {
    // No portal on the bus: no preference, and the app does not wait for one.
    {
        AppearanceWatcher watcher(bus_.address());
        ASSERT_TRUE(waitUntil([&] { return watcher.isKnown(); }));
        EXPECT_EQ(watcher.colorScheme(), Scheme::NoPreference);
    }
    publish();
    // A portal without ReadOne: the doubly wrapped Read answer.
    portal_.hasReadOne = false;
    portal_.scheme = QVariant::fromValue(2u);
    {
        AppearanceWatcher watcher(bus_.address());
        ASSERT_TRUE(waitUntil([&] { return watcher.isKnown(); }));
        EXPECT_EQ(watcher.colorScheme(), Scheme::PreferLight);
    }
    // Values of another type or out of range are no preference.
    portal_.hasReadOne = true;
    for (const QVariant& odd : {QVariant::fromValue(QStringLiteral("dark")),
                                QVariant::fromValue(7u), QVariant::fromValue(1.0)}) {
        portal_.scheme = odd;
        AppearanceWatcher watcher(bus_.address());
        ASSERT_TRUE(waitUntil([&] { return watcher.isKnown(); }));
        EXPECT_EQ(watcher.colorScheme(), Scheme::NoPreference) << odd.toString().toStdString();
    }
}

} // namespace
} // namespace varno

#include "TrayIconTest_linux.moc"
