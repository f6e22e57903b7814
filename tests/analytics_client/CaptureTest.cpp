#include "SdkTestSupport.h"

#include "analytics/client/TelemetryContext.h"
#include "analytics/client/TelemetryProperties.h"
#include "support/AwaitTask.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QRegularExpression>
#include <QScreen>
#include <QSize>
#include <QTimeZone>
#include <QUrl>

#include <cmath>
#include <limits>

using namespace varno;
using namespace varno::test;
using namespace std::chrono_literals;

TEST(Capture, QueuedEventCarriesIdentityTimeSessionAndEveryPropertyLayer) {
    SdkHarness h;
    h.sdk->setup(h.config());
    h.sdk->capture("app_launched",
                   {{"app_version", "1.4.0"}, {"platform", "linux"}, {"$os_name", "CallerWins"}});

    const auto events = h.queued();
    ASSERT_EQ(events.size(), 1);
    const QJsonObject event = events[0];
    EXPECT_EQ(event.value("event"), "app_launched");
    EXPECT_EQ(event.value("distinct_id"), h.sdk->getAnonymousId());
    EXPECT_EQ(event.value("timestamp"), "2026-03-01T10:00:00.250Z");
    EXPECT_TRUE(
        QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
            .match(event.value("uuid").toString())
            .hasMatch());
    EXPECT_FALSE(event.contains("api_key"));

    const QJsonObject p = event.value("properties").toObject();
    const QJsonObject expected{
        {"$app_name", "Varno"},
        {"$app_version", "1.4.0"},
        {"$app_build", "140"},
        {"$app_namespace", "app.varno"},
        {"$device_type", "Desktop"},
        {"$device_manufacturer", "Framework"},
        {"$device_model", "Laptop 13"},
        {"$device_name", "workstation"},
        {"$os_version", "12"},
        {"$is_emulator", false},
        {"$lib", "varno-telemetry"},
        {"$lib_version", "1.0.0"},
        {"$is_identified", false},
        {"$process_person_profile", false},
        {"$network_wifi", true},
        {"$network_cellular", false},
        {"$session_id", *h.sdk->currentSessionId()},
        {"app_version", "1.4.0"},
        {"platform", "linux"},
        {"$os_name", "CallerWins"},
        {"$timezone", QString::fromUtf8(QTimeZone::systemTimeZoneId())},
        {"$locale", QLocale::languageToCode(QLocale().language())},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(p.value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_FALSE(p.contains("$set"));

    // The offscreen platform has a screen; its size travels with the event.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        EXPECT_EQ(p.value("$screen_width"), screen->geometry().width());
        EXPECT_EQ(p.value("$screen_height"), screen->geometry().height());
    }
}

TEST(Capture, SessionIdsFollowTheClockAndReset) {
    SdkHarness h;
    h.sdk->setup(h.config());
    auto sessionOf = [&](int index) {
        return h.queued().at(index).value("properties").toObject().value("$session_id").toString();
    };
    h.sdk->capture("a", {});
    h.clock.advance(29min);
    h.sdk->capture("b", {});
    h.clock.advance(31min);
    h.sdk->capture("c", {});
    h.sdk->capture("own", {{"$session_id", "mine"}});
    h.sdk->capture("blank", {{"$session_id", ""}});
    h.sdk->reset();
    h.sdk->capture("d", {});

    EXPECT_FALSE(sessionOf(0).isEmpty());
    EXPECT_EQ(sessionOf(1), sessionOf(0));
    EXPECT_NE(sessionOf(2), sessionOf(1));
    EXPECT_EQ(sessionOf(3), "mine");
    EXPECT_EQ(sessionOf(4), sessionOf(2));
    EXPECT_NE(sessionOf(5), sessionOf(2));
    EXPECT_NE(sessionOf(5), sessionOf(0));

    // In the background, after more than 30 quiet minutes, events carry no session.
    h.sdk->applicationDidEnterBackground();
    h.clock.advance(31min);
    h.sdk->capture("e", {});
    EXPECT_FALSE(h.queued().at(6).value("properties").toObject().contains("$session_id"));
}

TEST(Capture, UnserialisablePropertiesAreDroppedOneByOne) {
    SdkHarness h;
    h.sdk->setup(h.config());
    const QDateTime when =
        QDateTime::fromString("2026-02-28T23:59:58.900+01:00", Qt::ISODateWithMs);
    h.sdk->capture("mixed", {
                                {"count", 3},
                                {"big", qulonglong(1) << 40},
                                {"ratio", 0.5},
                                {"flag", true},
                                {"name", "Ada"},
                                {"none", QVariant()},
                                {"when", when},
                                {"list", QVariantList{1, "two", QVariantMap{{"three", 3}}}},
                                {"size", QSize(3, 4)},
                                {"url", QUrl("https://example.com")},
                                {"nan", std::numeric_limits<double>::quiet_NaN()},
                                {"bytes", QByteArray("raw")},
                                {"nested", QVariantList{1, QSize(1, 1)}},
                                {"deep", QVariantMap{{"ok", 1}, {"inf", INFINITY}}},
                            });
    const QJsonObject p = h.queued().at(0).value("properties").toObject();
    EXPECT_EQ(p.value("count"), 3);
    EXPECT_EQ(p.value("big"), QJsonValue(qint64(1) << 40));
    EXPECT_EQ(p.value("ratio"), 0.5);
    EXPECT_EQ(p.value("flag"), true);
    EXPECT_EQ(p.value("name"), "Ada");
    EXPECT_TRUE(p.contains("none") && p.value("none").isNull());
    EXPECT_EQ(p.value("when"), "2026-02-28T22:59:58Z");
    EXPECT_EQ(p.value("list"), QJsonArray({1, "two", QJsonObject{{"three", 3}}}));
    for (const char* dropped : {"size", "url", "nan", "bytes", "nested", "deep"}) {
        EXPECT_FALSE(p.contains(dropped)) << dropped;
        EXPECT_TRUE(h.log.contains(QStringLiteral("[Telemetry] property: %1 isn't serializable, "
                                                  "dropping the item")
                                       .arg(dropped)))
            << dropped;
    }
}

TEST(Capture, PersonEventsCarryTheirPropertiesAndPersonProcessing) {
    SdkHarness h;
    h.sdk->setup(h.config());
    const QString anonymous = h.sdk->getAnonymousId();
    h.sdk->capture("before", {});
    h.sdk->identify("u1", QVariantMap{{"name", "Ada"}}, QVariantMap{{"first_seen", "2026"}});
    h.sdk->capture("after", {});

    const auto events = h.queued();
    ASSERT_EQ(events.size(), 3);
    const QJsonObject before = events[0].value("properties").toObject();
    const QJsonObject identify = events[1].value("properties").toObject();
    const QJsonObject after = events[2].value("properties").toObject();
    EXPECT_EQ(events[1].value("event"), "$identify");
    EXPECT_EQ(events[1].value("distinct_id"), "u1");
    EXPECT_EQ(identify.value("$anon_distinct_id"), anonymous);
    EXPECT_EQ(identify.value("$set"), QJsonObject({{"name", "Ada"}}));
    EXPECT_EQ(identify.value("$set_once"), QJsonObject({{"first_seen", "2026"}}));
    EXPECT_EQ(identify.value("$process_person_profile"), true);
    EXPECT_EQ(before.value("$process_person_profile"), false);
    EXPECT_EQ(after.value("$process_person_profile"), true);
    EXPECT_EQ(after.value("$is_identified"), true);
    EXPECT_EQ(events[2].value("distinct_id"), "u1");

    // The fingerprint tells apart who and what was set.
    const QJsonObject ada{{"name", "Ada"}};
    EXPECT_EQ(personPropertiesFingerprint("u1", ada, std::nullopt),
              personPropertiesFingerprint("u1", QJsonObject{{"name", "Ada"}}, std::nullopt));
    EXPECT_NE(personPropertiesFingerprint("u1", ada, std::nullopt),
              personPropertiesFingerprint("u2", ada, std::nullopt));
    EXPECT_NE(personPropertiesFingerprint("u1", ada, std::nullopt),
              personPropertiesFingerprint("u1", std::nullopt, ada));
}

TEST(Capture, SameMillisecondCapturesGetDistinctOrderedIds) {
    SdkHarness h;
    h.sdk->setup(h.config());
    for (int i = 0; i < 20; ++i)
        h.sdk->capture("burst", {{"i", i}}); // the injected clock does not move
    const auto events = h.queued();
    ASSERT_EQ(events.size(), 20);
    for (int i = 0; i < 20; ++i) {
        // File names sort by creation, so the queue keeps the capture order.
        EXPECT_EQ(events[i].value("properties").toObject().value("i"), i);
        if (i > 0)
            EXPECT_LT(events[i - 1].value("uuid").toString(), events[i].value("uuid").toString());
    }
}

TEST(Capture, DeviceInfoComesFromThisMachine) {
    const TelemetryDeviceInfo device = TelemetryDeviceInfo::current();
#if defined(Q_OS_LINUX)
    EXPECT_EQ(device.osName, "Linux");
    QFile product("/sys/class/dmi/id/product_name");
    if (product.open(QIODevice::ReadOnly)) {
        const QString model = QString::fromUtf8(product.readAll()).trimmed();
        if (!model.isEmpty() && model != "To Be Filled By O.E.M.")
            EXPECT_EQ(device.model, model);
    } else {
        EXPECT_EQ(device.model, QString()); // no DMI here (containers): left out, no failure
    }
#elif defined(Q_OS_MACOS)
    EXPECT_EQ(device.osName, "macOS");
    EXPECT_EQ(device.manufacturer, "Apple");
    EXPECT_FALSE(device.model.isEmpty());
#endif
    EXPECT_FALSE(device.osVersion.isEmpty());

    // Missing values are left out of the events rather than sent empty.
    TelemetryContext bare(TelemetryApplicationInfo{},
                          TelemetryDeviceInfo{"Linux", "6.1", {}, {}, {}});
    const QJsonObject context = bare.staticContext();
    EXPECT_FALSE(context.contains("$device_model"));
    EXPECT_FALSE(context.contains("$device_manufacturer"));
    EXPECT_FALSE(context.contains("$app_version"));
    EXPECT_EQ(context.value("$app_namespace"), "telemetry.unknown");
    EXPECT_EQ(context.value("$os_name"), "Linux");

    const auto fromBundle =
        TelemetryApplicationInfo::fromInfoDictionary({{"CFBundleName", "Varno"},
                                                      {"CFBundleShortVersionString", "2.0"},
                                                      {"CFBundleVersion", 7},
                                                      {"CFBundleIdentifier", "app.varno"}});
    EXPECT_EQ(fromBundle.name, "Varno");
    EXPECT_EQ(fromBundle.version, "2.0");
    EXPECT_EQ(fromBundle.build, QString()); // not a string
    EXPECT_EQ(fromBundle.identifier, "app.varno");
}
