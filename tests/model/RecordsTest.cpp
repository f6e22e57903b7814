// SPDX-License-Identifier: MIT
#include "model/Records.h"
#include "model/Errors.h"
#include "model/Json.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace varno;

namespace {

const QByteArray kUser = R"({"id":"u1","name":"Ada","email":"ada@example.com"})";

QByteArray entry(const QByteArray& extra = {}) {
    QByteArray e = R"({"id":"f1","name":"Bo","isMe":false,"codex":10,"claude":20,"total":30)";
    return e + extra + "}";
}

QByteArray dashboard(const QByteArray& leaderboard, const QByteArray& tail = {}) {
    return "{\"user\":" + kUser + ",\"leaderboard\":[" + leaderboard + "],\"requests\":[]" + tail +
           "}";
}

// A leaderboard of 1,000 entries (over 100 KB, so parsed an entry at a time), whose
// names hold what a bracket counter could trip on; entry `at` replaced when given.
QByteArray longBoard(int at = -1, const QByteArray& replacement = {}) {
    QList<QByteArray> entries;
    for (int i = 0; i < 1000; ++i)
        entries << (i == at ? replacement
                            : entry().replace("\"Bo\"",
                                              R"("B\"o],[{\\)" + QByteArray::number(i) + "\""));
    return entries.join(',');
}

std::string decodeFailure(const std::function<void()>& decode) {
    try {
        decode();
    } catch (const DecodingError& e) {
        return e.what();
    }
    return "decoded";
}

} // namespace

TEST(Records, DashboardOptionalMembersAndUnknownMembers) {
    Dashboard d = decodeJson<Dashboard>(dashboard(entry(R"(,"mood":"great")"), R"(,"x":{"y":1})"));
    EXPECT_FALSE(d.referralCode.has_value());
    ASSERT_EQ(d.leaderboard.size(), 1);
    EXPECT_FALSE(d.leaderboard[0].syncedAt.has_value());
    EXPECT_FALSE(d.leaderboard[0].avatarURL.has_value());
    EXPECT_EQ(d.leaderboard[0].total, 30);

    d = decodeJson<Dashboard>(dashboard(entry(R"(,"syncedAt":null,"avatarURL":"https://a/b.png")"),
                                        R"(,"referralCode":null)"));
    EXPECT_FALSE(d.referralCode.has_value());
    EXPECT_EQ(d.leaderboard[0].avatarURL, QStringLiteral("https://a/b.png"));

    const FriendRequest r = decodeJson<FriendRequest>(
        R"({"id":"r1","name":"Cy","incoming":true,"accepted":false,"note":"hi"})");
    EXPECT_EQ(r, (FriendRequest{"r1", "Cy", true, false}));
}

TEST(Records, LongListsDecodeAsTheWholeDocument) {
    const QByteArray json = dashboard(longBoard(), R"(,"x":[)" + longBoard() + "]");
    const Dashboard whole = Dashboard::decode(parseJsonDocument(json));
    ASSERT_EQ(whole.leaderboard.size(), 1000);
    EXPECT_EQ(whole.leaderboard[999].name, R"(B"o],[{\999)");
    EXPECT_EQ(decodeJson<Dashboard>(json), whole);
}

TEST(Records, StrictFailuresNameWhatAndWhere) {
    struct Case {
        const char* name;
        QByteArray json;
        const char* expected;
    };
    const Case cases[] = {
        {"missing requests", "{\"user\":" + kUser + ",\"leaderboard\":[]}",
         R"(missing member "requests" at $)"},
        {"fractional integer deep inside",
         dashboard(entry().replace("\"codex\":10", "\"codex\":10.5")),
         "expected a whole 64-bit integer at $.leaderboard[0].codex but found 10.5"},
        {"integer as string", dashboard(entry().replace("\"codex\":10", "\"codex\":\"10\"")),
         "expected a whole 64-bit integer at $.leaderboard[0].codex but found a string"},
        {"null required", dashboard(entry().replace("\"name\":\"Bo\"", "\"name\":null")),
         R"(member "name" at $.leaderboard[0] is null)"},
        {"bool as number", dashboard(entry().replace("\"isMe\":false", "\"isMe\":0")),
         "expected a boolean at $.leaderboard[0].isMe but found a number"},
        {"optional of wrong type", dashboard(entry(), R"(,"referralCode":42)"),
         "expected a string at $.referralCode but found a number"},
        {"beyond 64 bits",
         dashboard(entry().replace("\"total\":30", "\"total\":9223372036854775808")),
         "expected a whole 64-bit integer at $.leaderboard[0].total but found "
         "9223372036854775808"},
        {"not JSON", "{\"user\":", "the data is not valid JSON"},
        {"empty", "", "the data is empty, not JSON"},
        {"two values", "{} {}", "the data is not valid JSON"},
        // A long list is read an entry at a time, with the same verdicts.
        {"long list, an entry deep inside",
         dashboard(longBoard(700, entry().replace("\"codex\":10", "\"codex\":1.5"))),
         "expected a whole 64-bit integer at $.leaderboard[700].codex but found 1.5"},
        {"long list, a wrong entry before broken JSON",
         dashboard(longBoard(3, R"({"id":7})") + ",{]"), "the data is not valid JSON"},
        {"long list, an empty entry", dashboard(longBoard(999, "")), "the data is not valid JSON"},
        {"long list, two values in one entry", dashboard(longBoard(5, entry() + entry())),
         "the data is not valid JSON"},
        {"long list nobody reads, broken",
         dashboard(entry(), ",\"x\":[" + longBoard(9, "[}") + "]"), "the data is not valid JSON"},
        {"long list where text belongs",
         dashboard(entry(), ",\"referralCode\":[" + longBoard() + "]"),
         "expected a string at $.referralCode but found an array"},
    };
    for (const Case& c : cases) {
        const std::string message = decodeFailure([&] { decodeJson<Dashboard>(c.json); });
        EXPECT_NE(message.find(c.expected), std::string::npos)
            << c.name << ": got \"" << message << "\"";
    }
}

// Integers are whole numbers that fit in 64 bits, however they are written; the
// verdict comes from the text, not from a double that has lost digits.
TEST(Records, IntegerRuleIsExactAtEveryBound) {
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    const std::pair<const char*, std::optional<qint64>> cases[] = {
        {"-9223372036854775808", min},
        {"-9223372036854775809", std::nullopt},
        {"-18446744073709551616", std::nullopt},
        {"9223372036854775807", max},
        {"9223372036854775808", std::nullopt},
        {"922337203685477580.7e1", max},
        {"9.223372036854775808e18", std::nullopt},
        {"-9.223372036854775808e18", min},
        {"-92233720368547758090e-1", std::nullopt},
        {"9007199254740993.0", 9007199254740993}, // a double would give ...992
        {"1e3", 1000},
        {"1E+2", 100},
        {"100e-2", 1},
        {"0.1e1", 1},
        {"1.0", 1},
        {"-0", 0},
        {"-0.0e99", 0},
        {"1e18", 1'000'000'000'000'000'000},
        {"1e19", std::nullopt},
        {"1.5", std::nullopt},
        {"1.0000000000000000001", std::nullopt}, // a double would round it to 1
        {"1e-400", std::nullopt},
        {"1e99999999999999999999", std::nullopt},
        {"-1e-99999999999999999999", std::nullopt},
    };
    for (const auto& [literal, expected] : cases) {
        SCOPED_TRACE(literal);
        const QByteArray json = QByteArray(R"({"provider":"c","date":"d","totalTokens":)") +
                                literal + R"(,"extra":[1.0000000000000000001,-1e300]})";
        if (expected) {
            EXPECT_EQ(decodeJson<DailyUsage>(json).totalTokens, *expected);
        } else {
            EXPECT_EQ(decodeFailure([&] { decodeJson<DailyUsage>(json); }),
                      std::string("expected a whole 64-bit integer at $.totalTokens but found ") +
                          literal);
        }
    }
}

// Numbers that are not integers never pass for text, and text that happens to begin
// with U+0000 keeps it.
TEST(Records, NumbersAndTextStayApart) {
    EXPECT_EQ(decodeFailure([] { decodeJson<User>(R"({"id":1.5,"name":"n","email":"e"})"); }),
              "expected a string at $.id but found a number");
    const User user = decodeJson<User>(R"({"id":"\u0000-1.5","name":"\u0000","email":"e"})");
    EXPECT_EQ(user.id, QChar(0) + QStringLiteral("-1.5"));
    EXPECT_EQ(user.name, QString(QChar(0)));
    EXPECT_EQ(decodeFailure([] {
                  decodeJson<DailyUsage>(R"({"provider":"c","date":"d","totalTokens":"\u00005"})");
              }),
              "expected a whole 64-bit integer at $.totalTokens but found a string");
    // A number where a key belongs stays the broken document it is.
    EXPECT_NE(decodeFailure([] {
                  decodeJson<User>(R"({"id":"i","name":"n","email":"e",1.5:2})");
              }).find("not valid JSON"),
              std::string::npos);
}

TEST(Records, OptionalDocumentAcceptsLiteralNull) {
    EXPECT_FALSE(decodeOptionalJson<Dashboard>(" null ").has_value());
    EXPECT_TRUE(decodeOptionalJson<Dashboard>(dashboard("")).has_value());
    EXPECT_THROW(decodeJson<Dashboard>("null"), DecodingError);
}

TEST(Records, SessionRoundTripsWithExactMembersInOrder) {
    const SavedSession session{"tok\"en", User{"u1", "Ada \u00e9", "a@b"}, "https://x.example/"};
    const QByteArray json = session.toJson();
    EXPECT_EQ(json, QByteArray(R"({"token":"tok\"en","user":{"id":"u1","name":"Ada )") +
                        QStringLiteral("\u00e9").toUtf8() +
                        R"(","email":"a@b"},"serverURL":"https://x.example/"})");
    EXPECT_EQ(decodeJson<SavedSession>(json), session);
}

TEST(Records, UsageUploadHasExactMembers) {
    const UsageUpload upload{
        "DEV",
        "2026-12-05T05:06:03Z",
        {DailyUsage{"codex", "2026-12-05", 7}, DailyUsage{"claude", "2026-12-05", 0}}};
    EXPECT_EQ(upload.toJson(),
              QByteArray(R"({"deviceId":"DEV","collectedAt":"2026-12-05T05:06:03Z","daily":[)"
                         R"({"provider":"codex","date":"2026-12-05","totalTokens":7},)"
                         R"({"provider":"claude","date":"2026-12-05","totalTokens":0}]})"));
    // Control characters must come out escaped, or the server sees broken JSON.
    const QByteArray tricky = UsageUpload{QStringLiteral("a\n\x01\\"), "t", {}}.toJson();
    EXPECT_FALSE(QJsonDocument::fromJson(tricky).isNull());
    EXPECT_EQ(QJsonDocument::fromJson(tricky).object().value("deviceId").toString(),
              QStringLiteral("a\n\x01\\"));
}

TEST(Records, CodexBarDocumentIsJudgedElementByElement) {
    const QList<ProviderUsage> list = decodeJsonList<ProviderUsage>(
        R"([{"provider":"codex"},{"provider":"claude","daily":[{"date":"2026-03-01","totalTokens":5,"cost":1.5}],)"
        R"("historyCoverageIsEstablished":false}])");
    ASSERT_EQ(list.size(), 2);
    EXPECT_FALSE(list[0].daily.has_value());
    EXPECT_FALSE(list[0].historyCoverageIsEstablished.has_value());
    EXPECT_EQ(list[1].daily->at(0), (ProviderUsage::Day{"2026-03-01", 5}));
    EXPECT_EQ(list[1].historyCoverageIsEstablished, false);

    EXPECT_EQ(decodeFailure([] {
                  decodeJsonList<ProviderUsage>(
                      R"([{"provider":"codex","daily":[{"date":"2026-03-01"}]}])");
              }),
              R"(missing member "totalTokens" at $[0].daily[0])");
    EXPECT_THROW(decodeJsonList<ProviderUsage>(R"({"provider":"codex"})"), DecodingError);
}

// A sync's texts share the shown dashboard's memory wherever they are equal, found
// also when rows arrive, leave or move; what differs stays the new answer's.
TEST(Records, ALoadSharesTheTextsItHasInCommonWithTheShownOne) {
    const auto row = [](int id, const QString& name, std::optional<QString> avatar = {}) {
        return LeaderboardEntry{QStringLiteral("f%1").arg(id), name, false, 1, 2, 3, {}, avatar};
    };
    Dashboard shown, loaded;
    for (int i = 0; i < 200; ++i)
        shown.leaderboard.append(row(i, QStringLiteral("Friend %1").arg(i), "https://a/x.png"));
    // Two new rows at the top, row 50 gone, row 30 moved up to 20, row 7 renamed; row
    // 150 jumps to the top, further than the rows are looked for.
    loaded.leaderboard = {row(900, "New"), row(150, "Friend 150", "https://a/x.png"),
                          row(901, "Newer")};
    for (int i = 0; i < 200; ++i) {
        if (i == 50 || i == 150 || i == 30)
            continue;
        if (i == 20)
            loaded.leaderboard.append(row(30, "Friend 30", "https://a/x.png"));
        // Copies of their own, as a decoder makes them.
        const QString name = i == 7 ? QStringLiteral("Seven") : QStringLiteral("Friend %1").arg(i);
        loaded.leaderboard.append(
            row(i, QString(name.constData(), name.size()), QString::fromLatin1("https://a/x.png")));
    }
    const Dashboard before = loaded;
    loaded.shareTextsWith(shown);

    EXPECT_EQ(loaded, before);
    for (const LeaderboardEntry& entry : std::as_const(loaded.leaderboard)) {
        const int id = entry.id.mid(1).toInt();
        SCOPED_TRACE(entry.id.toStdString());
        if (id >= 200 || id == 150)
            continue;
        const LeaderboardEntry& old = shown.leaderboard[id];
        EXPECT_TRUE(entry.id.isSharedWith(old.id));
        EXPECT_EQ(entry.name.isSharedWith(old.name), id != 7);
        EXPECT_TRUE(entry.avatarURL->isSharedWith(*old.avatarURL));
    }
}
