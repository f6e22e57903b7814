#include "analytics/client/TelemetryEvent.h"
#include "analytics/client/UuidV7.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace varno;

namespace {
std::int64_t timestampBits(const QUuid& uuid) {
    const QByteArray bytes = uuid.toRfc4122();
    std::int64_t ms = 0;
    for (int i = 0; i < 6; ++i)
        ms = (ms << 8) | static_cast<unsigned char>(bytes[i]);
    return ms;
}
} // namespace

TEST(UuidV7, IsVersionSevenLowerCaseAndCarriesTheMillisecond) {
    UuidV7 generator([] { return std::int64_t(1'700'000'000'123); });
    const QUuid id = generator.next();
    const QByteArray bytes = id.toRfc4122();
    EXPECT_EQ((static_cast<unsigned char>(bytes[6]) >> 4), 7);    // version
    EXPECT_EQ((static_cast<unsigned char>(bytes[8]) >> 6), 0b10); // RFC variant
    EXPECT_EQ(timestampBits(id), 1'700'000'000'123);
    const QString text = UuidV7::toText(id);
    static const QRegularExpression shape(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-7[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));
    EXPECT_TRUE(shape.match(text).hasMatch()) << text.toStdString();
    EXPECT_TRUE(shape.match(UuidV7::generateString()).hasMatch());
}

TEST(UuidV7, StaysOrderedWithinOneMillisecondWhenTheClockStepsBackAndAcrossThreads) {
    std::atomic<std::int64_t> clock{5'000};
    UuidV7 generator([&] { return clock.load(); });
    QString previous;
    for (int i = 0; i < 20000; ++i) {
        if (i == 10000)
            clock = 4'000; // the wall clock was set back
        const QString text = UuidV7::toText(generator.next());
        ASSERT_LT(previous, text) << "at " << i;
        previous = text;
    }

    // Several threads share one generator: every id is unique and each thread sees its
    // own ids rise.
    std::vector<std::vector<QString>> perThread(4);
    std::vector<std::thread> threads;
    for (auto& ids : perThread)
        threads.emplace_back([&generator, &ids] {
            for (int i = 0; i < 5000; ++i)
                ids.push_back(UuidV7::toText(generator.next()));
        });
    for (auto& thread : threads)
        thread.join();
    QSet<QString> all;
    for (const auto& ids : perThread) {
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
        for (const QString& id : ids)
            all.insert(id);
    }
    EXPECT_EQ(all.size(), 20000);
}

TEST(TelemetryEvent, WritesTheWireFormAndReadsItBack) {
    const QDateTime local(QDate(2024, 3, 9), QTime(23, 59, 58, 7), QTimeZone(3600));
    const QUuid id = UuidV7::generate();
    TelemetryEvent event(
        "app_launched", "user-1",
        {{"platform", "linux"}, {"count", 3}, {"nested", QVariantMap{{"a", true}}}}, local, id);
    const QJsonObject json = event.toJSON();
    EXPECT_EQ(json.keys(),
              (QStringList{"distinct_id", "event", "properties", "timestamp", "uuid"}));
    EXPECT_EQ(json["timestamp"].toString(), "2024-03-09T22:59:58.007Z");
    EXPECT_EQ(json["uuid"].toString(), UuidV7::toText(id));
    EXPECT_EQ(json["properties"].toObject()["nested"].toObject()["a"].toBool(), true);

    event.apiKey = "key";
    EXPECT_EQ(event.toJSON()["api_key"].toString(), "key");

    const std::optional<TelemetryEvent> back = TelemetryEvent::decode(event.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->event, "app_launched");
    EXPECT_EQ(back->distinctId, "user-1");
    EXPECT_EQ(back->uuid, id);
    EXPECT_EQ(back->timestamp, local);
    EXPECT_EQ(back->apiKey, std::optional<QString>("key"));
    EXPECT_EQ(back->properties.value("count").toInt(), 3);
    EXPECT_EQ(back->toJSON(), event.toJSON());

    // Two events made in the same millisecond still differ.
    EXPECT_NE(TelemetryEvent("a", "d", {}).uuid, TelemetryEvent("a", "d", {}).uuid);
}

TEST(TelemetryEvent, RefusesRecordsThatAreNotEvents) {
    const QByteArray good = TelemetryEvent("e", "d", {{"k", 1}}).encode();
    const QJsonObject base = QJsonDocument::fromJson(good).object();
    auto with = [&](const QString& key, const QJsonValue& value) {
        QJsonObject copy = base;
        if (value.isUndefined())
            copy.remove(key);
        else
            copy[key] = value;
        return QJsonDocument(copy).toJson();
    };
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"not JSON", "{not json"},
        {"truncated", good.left(good.size() / 2)},
        {"empty file", ""},
        {"an array", "[]"},
        {"no event", with("event", QJsonValue::Undefined)},
        {"event not text", with("event", 5)},
        {"no distinct id", with("distinct_id", QJsonValue::Undefined)},
        {"bad timestamp", with("timestamp", "yesterday")},
        {"no timestamp", with("timestamp", QJsonValue::Undefined)},
        {"bad uuid", with("uuid", "not-a-uuid")},
        {"properties not an object", with("properties", QJsonArray{1})},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_FALSE(TelemetryEvent::decode(bytes)) << name;
    EXPECT_TRUE(TelemetryEvent::decode(with("properties", QJsonValue::Undefined)));
}
