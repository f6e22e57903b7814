// SPDX-License-Identifier: MIT
// Varno on a real Xfce 4.18 panel, as a new user meets it: xfwm4 and xfce4-panel
// under Xvfb in one D-Bus session, the real varno binary against the development
// server, clicks through xdotool, the menu read over D-Bus the way the panel reads it.

#include "support/DesktopSession.h"

#include "support/DevServerProcess.h"
#include "support/Files.h"
#include "support/Programs.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QMap>
#include <QThread>
#include <gtest/gtest.h>

#include <iostream>

using namespace std::chrono_literals;

namespace varno {
namespace {

using test::DesktopSession;
using test::waitUntil;

const QString varnoProgram = varno::test::varnoProgramPath();

// Xfce's default top panel (dark, 26 high, square tray icons), with only the tray on it,
// in the middle, so that the icon is the one thing drawn there and far from the
// screen's corner.
const char* panelConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="true"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
        <value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
    <property name="plugin-3" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
  </property>
</channel>
)";

// The item's menu as com.canonical.dbusmenu lays it out: the root's children, in order,
// as "label|on" or "label|off" ("-" for a separator).
QStringList exportedMenu(const QString& service, const QString& path) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    call << 0 << -1
         << QStringList{QStringLiteral("label"), QStringLiteral("enabled"), QStringLiteral("type")};
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    QStringList items;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return items;
    const QDBusArgument layout = reply.arguments()[1].value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    layout.beginStructure();
    layout >> id >> properties;
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        const QDBusArgument item = child.variant().value<QDBusArgument>();
        QVariantMap itemProperties;
        item.beginStructure();
        item >> id >> itemProperties;
        item.endStructure();
        if (itemProperties.value("visible", true).toBool())
            items.append((itemProperties.value("type").toString() == QLatin1String("separator")
                              ? QStringLiteral("-")
                              : itemProperties.value("label").toString()) +
                         (itemProperties.value("enabled", true).toBool() ? "|on" : "|off"));
    }
    layout.endArray();
    layout.endStructure();
    return items;
}

QVariant dbusProperty(const QString& service, const QString& path, const QString& interface,
                      const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << name;
    const QDBusReply<QDBusVariant> reply =
        QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

QVariant itemProperty(const QString& service, const QString& path, const QString& name) {
    return dbusProperty(service, path, QStringLiteral("org.kde.StatusNotifierItem"), name);
}

QVariant watcherProperty(const QString& name) {
    return dbusProperty(QStringLiteral("org.kde.StatusNotifierWatcher"),
                        QStringLiteral("/StatusNotifierWatcher"),
                        QStringLiteral("org.kde.StatusNotifierWatcher"), name);
}

// Inside the private session: the whole walk-through.
void onTheXfcePanel() {
    DesktopSession desktop;
    const QString home = qEnvironmentVariable("HOME");
    ASSERT_TRUE(test::writeFile(home + "/.config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml",
                                panelConfig));
    ASSERT_TRUE(desktop.startX(QStringLiteral("1280x800"))) << "Xvfb did not start";
    desktop.run(QStringLiteral("xsetroot"), {"-solid", "#6f8fb3"});
    desktop.start(QStringLiteral("xfwm4"), {});
    desktop.start(QStringLiteral("xfce4-panel"), {});

    ASSERT_TRUE(
        waitUntil([&] { return watcherProperty("IsStatusNotifierHostRegistered").toBool(); }, 45s))
        << "xfce4-panel's tray did not register as a StatusNotifierItem host:\n"
        << desktop.log("xfce4-panel").toStdString();

    test::DevServerProcess server(test::DevServerProcess::Seed::demo);
    const QString config = home + "/.config";
    ASSERT_TRUE(test::writeFile(config + "/Varno/Varno.conf",
                                "[General]\nserverURL=" + server.baseUrl().toUtf8() + "\n"));
    // The stand-in browser signs in as the demo user, as the development page would.
    const QString browser = desktop.path("browser");
    ASSERT_TRUE(test::writeFile(
        browser, QStringLiteral("#!/bin/sh\n"
                                "location=$(curl -s -o /dev/null -D - \"$1&account=demo\" | "
                                "tr -d '\\r' | sed -n 's/^[Ll]ocation: //p')\n"
                                "exec '%1' \"$location\"\n")
                     .arg(varnoProgram)
                     .toUtf8()));
    QFile::setPermissions(browser, QFile::ReadOwner | QFile::ExeOwner);
    QProcessEnvironment& env = desktop.environment();
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_DATA_HOME", desktop.path("data"));
    env.insert("CODEXBAR_CLI", QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR));
    env.insert("VARNO_BROWSER", browser);
    env.insert("VARNO_NO_URL_HANDLER", "1");
    env.insert("QT_QPA_PLATFORM", "xcb");
    // As in an Xfce session: Qt then takes the GTK platform theme where it is installed.
    env.insert("XDG_CURRENT_DESKTOP", "XFCE");
    // No icon theme for Varno (GTK's settings schemas stay): its menu then carries its
    // own symbols, in a colour of its choosing, for the panel to draw.
    QProcessEnvironment varnoEnv = env;
    const QString dataDirs = desktop.path("data-dirs");
    QDir().mkpath(dataDirs);
    QFile::link(QStringLiteral("/usr/share/glib-2.0"), dataDirs + "/glib-2.0");
    varnoEnv.insert("XDG_DATA_DIRS", dataDirs);
    desktop.start(varnoProgram, {}, varnoEnv);

    // Registered with the watcher, under its proper title.
    QString service, itemPath;
    ASSERT_TRUE(waitUntil(
        [&] {
            const QStringList items =
                watcherProperty("RegisteredStatusNotifierItems").toStringList();
            if (items.isEmpty())
                return false;
            service = items[0].section('/', 0, 0);
            itemPath = '/' + items[0].section('/', 1);
            return true;
        },
        20s));
    EXPECT_EQ(itemProperty(service, itemPath, "Title").toString(), "Varno");

    // The menu the panel shows on a right click, as it reads it.
    const QString menuPath =
        itemProperty(service, itemPath, "Menu").value<QDBusObjectPath>().path();
    EXPECT_FALSE(menuPath.isEmpty() || menuPath == QLatin1String("/NO_DBUSMENU"))
        << "the item exports no menu, so the panel shows its own";
    QStringList menu;
    EXPECT_TRUE(waitUntil(
        [&] {
            menu = exportedMenu(service, menuPath);
            return menu.size() == 10 && !menu[9].isEmpty();
        },
        10s));
    EXPECT_EQ(menu, (QStringList{"Sign in with GitHub|on", "Your Usage|off", "-|on",
                                 "Copy referral link|off", "-|on", "Sign out|off", "-|on",
                                 "Notifications|on", "Start at Login|on", "Quit Varno|on"}));

    // The icon on the dark panel: find it in a screenshot and measure its contrast.
    QRect bar, icon;
    QColor background;
    double contrast = 1;
    const auto lookAtTheIcon = [&] {
        const QImage shot = desktop.screenshot();
        if (shot.isNull())
            return false;
        background = shot.pixelColor(4, 4);
        for (const QRect& window : desktop.visibleWindows({"--classname", "xfce4-panel"}))
            if (window.top() == 0 && window.width() == shot.width())
                bar = window;
        icon = QRect();
        contrast = 1;
        // Inside the bar's border.
        for (int y = 1; y < bar.height() - 1; ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (std::abs(c.red() - background.red()) +
                        std::abs(c.green() - background.green()) +
                        std::abs(c.blue() - background.blue()) >
                    60) {
                    icon |= QRect(x, y, 1, 1);
                    contrast = std::max(contrast, test::contrastRatio(c, background));
                }
            }
        return bar.height() > 10 && !icon.isEmpty();
    };
    // The tray may announce its colours a moment after the icon first shows.
    EXPECT_TRUE(waitUntil([&] { return lookAtTheIcon() && contrast >= 4.5; }, 15s))
        << "icon contrast on the dark panel: " << contrast;
    ASSERT_FALSE(icon.isEmpty()) << "no icon found on the panel";
    EXPECT_LT(background.lightnessF(), 0.35) << "Xfce's default panel is dark";
    EXPECT_LE(icon.width(), 32);
    std::cout << "icon contrast on Xfce's dark panel: " << contrast << ":1\n";

    const QString panelName = QStringLiteral("^Varno leaderboard");
    const QPoint iconCentre = icon.center();
    const auto panelOpen = [&] { return desktop.visibleWindow(panelName).has_value(); };

    // Signed out, a left click signs in; the panel then opens where the click was.
    desktop.click(iconCentre, 1);
    ASSERT_TRUE(waitUntil(panelOpen, 60s)) << "the panel did not open after sign-in";
    // The exported menu follows the sign-in without being opened; once the referral link is
    // there the first sync has landed, and the panel grows to its rows.
    EXPECT_TRUE(waitUntil(
        [&] {
            menu = exportedMenu(service, menuPath);
            return menu.value(3) == "Copy referral link|on";
        },
        10s))
        << menu.join(", ").toStdString();
    EXPECT_EQ(menu.mid(0, 2), (QStringList{"Open Varno|on", "Your Usage|on"}));
    EXPECT_EQ(menu.value(5), "Sign out|on");
    // Its place, once three looks in a row agree.
    QRect afterSignIn;
    int sameLooks = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const std::optional<QRect> now = desktop.visibleWindow(panelName);
            sameLooks = now && *now == afterSignIn ? sameLooks + 1 : 0;
            if (now)
                afterSignIn = *now;
            return sameLooks >= 2;
        },
        10s))
        << "the panel did not settle after the first sync";
    EXPECT_EQ(afterSignIn.top(), bar.bottom() + 1) << "hangs from the panel's bottom edge";
    EXPECT_LT(afterSignIn.left(), icon.left());
    EXPECT_GT(afterSignIn.right(), icon.right()) << "under the icon";

    // Click to close, click to open: the same place.
    desktop.click(iconCentre, 1);
    ASSERT_TRUE(waitUntil([&] { return !panelOpen(); }, 10s));
    QThread::msleep(500);
    desktop.click(iconCentre, 1);
    ASSERT_TRUE(waitUntil(panelOpen, 10s));
    EXPECT_EQ(*desktop.visibleWindow(panelName), afterSignIn);

    // `varno --toggle`, with the pointer elsewhere: closes, then opens at the click's place.
    desktop.run(QStringLiteral("xdotool"), {"mousemove", "200", "500"});
    EXPECT_EQ(desktop.run(varnoProgram, {"--toggle"}).first, 0);
    ASSERT_TRUE(waitUntil([&] { return !panelOpen(); }, 10s));
    EXPECT_EQ(desktop.run(varnoProgram, {"--toggle"}).first, 0);
    ASSERT_TRUE(waitUntil(panelOpen, 10s));
    EXPECT_EQ(*desktop.visibleWindow(panelName), afterSignIn);

    // A right click: the panel shows Varno's menu, hanging from the icon.
    desktop.click(iconCentre, 3);
    EXPECT_TRUE(waitUntil([&] { return !panelOpen(); }, 10s)) << "the menu closes the panel";
    QThread::msleep(500);
    const QImage withMenu = desktop.screenshot();
    ASSERT_FALSE(withMenu.isNull());
    // The first row's symbol (Open Varno's), drawn by the panel in its dark menu: it must
    // stand out from the menu as the tray icon does from the bar.
    std::optional<QRect> menuWindow;
    // (GTK's popup has no class of its own: any window hanging from the bar.)
    for (const QRect& window : desktop.visibleWindows({"--name", ""}))
        if (window.top() > bar.top() + bar.height() / 2 && window.top() < bar.bottom() + 8 &&
            window.height() > 60 && window.width() < bar.width() / 2)
            menuWindow = window;
    ASSERT_TRUE(menuWindow) << "the panel showed no menu";
    // The menu's body: the window's commonest colour, inside whatever shadow it has.
    QMap<QRgb, int> counts;
    for (int y = menuWindow->top(); y <= menuWindow->bottom(); ++y)
        for (int x = menuWindow->left(); x <= menuWindow->right(); ++x)
            ++counts[withMenu.pixel(x, y)];
    const QRgb menuBackground =
        std::max_element(counts.keyValueBegin(), counts.keyValueEnd(), [](auto a, auto b) {
            return a.second < b.second;
        })->first;
    QRect body;
    for (int y = menuWindow->top(); y <= menuWindow->bottom(); ++y)
        for (int x = menuWindow->left(); x <= menuWindow->right(); ++x)
            if (withMenu.pixel(x, y) == menuBackground)
                body |= QRect(x, y, 1, 1);
    double symbolContrast = 1;
    for (int y = body.top() + 2; y < body.top() + 26; ++y)
        for (int x = body.left() + 2; x < body.left() + 48; ++x)
            symbolContrast = std::max(symbolContrast, test::contrastRatio(withMenu.pixelColor(x, y),
                                                                          QColor(menuBackground)));
    EXPECT_GE(symbolContrast, 3.0) << "the first symbol in the panel's menu";
    desktop.run(QStringLiteral("xdotool"), {"key", "Escape"});
}

TEST(XfcePanel, MenuIconAndPanelPlaceOnAStatusNotifierTray) {
    QString output;
    test::runOnDesktop(onTheXfcePanel,
                       {"Xvfb", "xfwm4", "xfce4-panel", "xdotool", "import", "xsetroot",
                        "gnome-keyring-daemon", "curl"},
                       true, 170s, &output);
    if (const qsizetype at = output.indexOf("icon contrast"); at >= 0)
        std::cout << output.mid(at).section('\n', 0, 0).toStdString() << '\n';
}

} // namespace
} // namespace varno
