// SPDX-License-Identifier: MIT
// The notifier against a notification service on a private message bus (a real
// dbus-daemon with no services to start): what it sends, whose clicks it accepts, and
// that a missing or silent service costs nothing.

#include "app/FreedesktopNotifier_linux.h"

#include "support/AwaitTask.h"
#include "support/EventLoopProbe.h"
#include "support/Printers.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using varno::test::waitUntil;

namespace {

using varno::test::PrivateBus;

struct Notified {
    QString app, icon, summary, body;
    QStringList actions;
    QVariantMap hints;
    int timeout;
};

class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit NotificationService(QDBusConnection bus) : bus_(std::move(bus)) {}
    bool registerOnBus() {
        return bus_.registerObject("/org/freedesktop/Notifications", this,
                                   QDBusConnection::ExportAllSlots) &&
               bus_.registerService("org.freedesktop.Notifications");
    }
    void emitSignal(const QString& name, const QVariantList& arguments) {
        emitOn(bus_, name, arguments);
    }
    static void emitOn(QDBusConnection bus, const QString& name, const QVariantList& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", name);
        signal.setArguments(arguments);
        bus.send(signal);
    }

    QStringList capabilities{"actions", "body"};
    bool silent = false; // never answers GetCapabilities
    QList<Notified> notified;

public slots:
    QStringList GetCapabilities(const QDBusMessage& message) {
        if (silent)
            message.setDelayedReply(true);
        return capabilities;
    }
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        notified.append({app, icon, summary, body, actions, hints, timeout});
        return uint(notified.size() + 100);
    }

private:
    QDBusConnection bus_;
};

#define NEEDS_DBUS_DAEMON(bus)                                                                     \
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())                                   \
        GTEST_SKIP() << "needs dbus-daemon (scripts/setup installs it)";                           \
    ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start"

} // namespace

TEST(FreedesktopNotifier, SendsPlainOrEscapedTextAndTakesOnlyItsOwnClicks) {
    PrivateBus bus;
    NEEDS_DBUS_DAEMON(bus);
    NotificationService service(bus.connect("service"));
    service.capabilities << "body-markup";
    ASSERT_TRUE(service.registerOnBus());
    varno::FreedesktopNotifier notifier(bus.connect("app"));
    QSignalSpy clicks(&notifier, &varno::Notifier::activated);

    notifier.show("<Bob> & co passed you", "2K <tokens> & more", "leaderboard");
    notifier.show("New friend request", "Cy", "friends");
    ASSERT_TRUE(waitUntil([&] { return service.notified.size() == 2; }));
    const Notified& first = service.notified[0];
    EXPECT_EQ(first.app, "Varno");
    EXPECT_EQ(first.icon, "varno");
    EXPECT_EQ(first.summary, "<Bob> & co passed you"); // the title is never markup
    EXPECT_EQ(first.body, "2K &lt;tokens&gt; &amp; more");
    EXPECT_TRUE(first.actions.contains("default"));
    EXPECT_EQ(first.hints.value("desktop-entry").toString(), "varno");
    EXPECT_EQ(first.timeout, -1);

    // Ids 101 and 102. A click on the second from the service itself counts; the same
    // signal from another client, another action or an unknown id does not.
    QDBusConnection stranger = bus.connect("stranger");
    NotificationService::emitOn(stranger, "ActionInvoked", {102u, "default"});
    service.emitSignal("ActionInvoked", {102u, "inline-reply"});
    service.emitSignal("ActionInvoked", {7u, "default"});
    service.emitSignal("ActionInvoked", {102u, "default"});
    ASSERT_TRUE(waitUntil([&] { return clicks.size() >= 1; }));
    // Closed, the first one's click no longer reaches the app.
    service.emitSignal("NotificationClosed", {101u, 2u});
    service.emitSignal("ActionInvoked", {101u, "default"});
    service.emitSignal("ActionInvoked", {102u, "default"});
    ASSERT_TRUE(waitUntil([&] { return clicks.size() >= 2; }));
    QTest::qWait(100);
    ASSERT_EQ(clicks.size(), 2);
    EXPECT_EQ(clicks[0][0].toString(), "friends");
    EXPECT_EQ(clicks[1][0].toString(), "friends");

    // Without markup the text goes as it is.
    PrivateBus otherBus;
    NotificationService plain(otherBus.connect("plain"));
    ASSERT_TRUE(plain.registerOnBus());
    varno::FreedesktopNotifier second(otherBus.connect("app2"));
    second.show("Title", "2K <tokens> & more", "x");
    ASSERT_TRUE(waitUntil([&] { return plain.notified.size() == 1; }));
    EXPECT_EQ(plain.notified[0].body, "2K <tokens> & more");
}

TEST(FreedesktopNotifier, AMissingOrSilentServiceNeverHoldsTheApp) {
    PrivateBus bus;
    NEEDS_DBUS_DAEMON(bus);
    varno::FreedesktopNotifier notifier(bus.connect("app"), 300ms);
    varno::test::EventLoopProbe probe;
    // Nobody serves notifications: the calls fail and nothing else happens.
    for (int i = 0; i < 30; ++i)
        notifier.show("T", "B", "x");
    QTest::qWait(500);

    // A service that starts later is asked again; one that never answers what it can
    // do still gets the notices, as plain text, once the question times out.
    NotificationService service(bus.connect("service"));
    service.silent = true;
    ASSERT_TRUE(service.registerOnBus());
    notifier.show("Later", "a & b", "x");
    ASSERT_TRUE(waitUntil([&] { return service.notified.size() == 1; }, 5s));
    EXPECT_EQ(service.notified[0].summary, "Later");
    EXPECT_EQ(service.notified[0].body, "a & b");
    EXPECT_LT(probe.longestGapMs(), 250) << "the main thread waited for the bus";
}

#include "FreedesktopNotifierTest_linux.moc"
