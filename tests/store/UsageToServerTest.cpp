#include "StoreHarness.h"

#include "model/Formatting.h"
#include "usage/CodexBarReader.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace varno;
using namespace varno::test;

#ifdef VARNO_TOOL_FAKE_CODEXBAR

namespace {

ReaderOptions fakeTool() {
    ReaderOptions options;
    options.environment = [](const QString& name) -> std::optional<QString> {
        if (name == QLatin1String("CODEXBAR_CLI"))
            return QStringLiteral(VARNO_TOOL_FAKE_CODEXBAR);
        return std::nullopt;
    };
    options.installLocations = {};
    options.timeLimit = 10s;
    return options;
}

} // namespace

// The whole cycle with the real reader and the stand-in tool: read, upload,
// reload, sign out.
TEST(UsageToServer, ReadsUploadsReloadsAndSignsOut) {
    StoreHarness h;
    AppStoreActions actions = h.actions();
    actions.readUsage = [](std::stop_token token) {
        return CodexBarReader::read(token, fakeTool());
    };
    actions.now = nullptr;
    actions.timeZone = nullptr;
    h.store = std::make_unique<AppStore>(false, actions, &h.analytics, h.settings.get(),
                                         h.settings.get(), QVariantMap{});
    AppStore& store = *h.store;
    store.setSession(SavedSession{QStringLiteral("tok-1"), alice(), h.serverBase()});
    h.server.enqueue(ScriptedResponse::reply(200, R"({"ok":true})"));
    h.server.enqueue(ScriptedResponse::reply(200, dashboardJson({"f1"})));

    awaitTask(store.refresh(true), 20s);

    ASSERT_EQ(store.error(), std::nullopt);
    ASSERT_TRUE(store.snapshot().has_value());
    EXPECT_EQ(store.snapshot()->daily.size(), 60);
    ASSERT_EQ(h.server.requestCount(), 2);
    const RecordedRequest upload = h.server.requests().at(0);
    EXPECT_EQ(upload.path, "/api/usage");
    const JsonNode body = parseJsonDocument(upload.body);
    EXPECT_EQ(body.requiredString(QStringLiteral("deviceId")), store.deviceId());
    const QList<DailyUsage> rows = body.requiredList<DailyUsage>(QStringLiteral("daily"));
    EXPECT_EQ(rows, store.snapshot()->daily);
    const QString today = localDay(QDateTime::currentDateTimeUtc(), QTimeZone::systemTimeZone());
    EXPECT_EQ(rows.at(29).date, today);
    EXPECT_EQ(h.server.requests().at(1).path, "/api/dashboard?date=" + today.toUtf8());
    EXPECT_EQ(store.dashboard()->leaderboard.size(), 2);
    EXPECT_TRUE(store.lastSynced().has_value());

    h.server.enqueue(ScriptedResponse::reply(200, R"({"ok":true})"));
    awaitTask(store.logout());
    EXPECT_EQ(h.server.requests().last().path, "/api/auth/logout");
    EXPECT_EQ(store.session(), std::nullopt);
    EXPECT_EQ(store.dashboard(), std::nullopt);
    EXPECT_TRUE(store.snapshot().has_value());
    EXPECT_FALSE(store.busy());
}

#endif
