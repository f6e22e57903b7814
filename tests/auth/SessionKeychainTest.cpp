// SPDX-License-Identifier: MIT
#include "auth/SessionKeychain.h"
#include "auth/KeychainSessionStorage.h"
#include "auth/MemorySecretStore.h"
#include "auth/QtKeychainSecretStore.h"
#include "model/Errors.h"

#include "support/AwaitTask.h"
#include "support/ChildRun.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace varno;
using test::awaitTask;

namespace {

SavedSession session(const char* token) {
    return SavedSession{token, User{"u1", "Ann", "a@x"}, "https://varno.example"};
}

QString saveError(const std::shared_ptr<MemorySecretStore>& store, const char* token) {
    try {
        awaitTask(SessionKeychain::save(store, session(token)));
        return {};
    } catch (const AppError& e) {
        return e.message();
    }
}

// Runs inside a private D-Bus session with a freshly unlocked gnome-keyring.
void roundTripAgainstTheRunningService() {
    auto store = std::make_shared<QtKeychainSecretStore>(std::chrono::seconds(20));
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);
    for (const char* token : {"first", "second"}) {
        awaitTask(SessionKeychain::save(store, session(token)));
        EXPECT_EQ(awaitTask(SessionKeychain::read(store)), session(token));
    }
    awaitTask(SessionKeychain::remove(store));
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);
    awaitTask(SessionKeychain::remove(store)); // already gone: silent

    // Where a keyring answers, the commands without a desktop use it too.
    QTemporaryDir dir;
    const auto storage =
        awaitTask(SessionStorage::forThisMachine(store, dir.filePath("Varno/session.json")));
    EXPECT_NE(dynamic_cast<KeychainSessionStorage*>(storage.get()), nullptr);
}

} // namespace

TEST(SessionKeychain, BadItemsReadAsNothingAndStay) {
    const QByteArray user = R"("user":{"id":"u","name":"n","email":"e"})";
    for (const QByteArray& data :
         {QByteArray("not json"), QByteArray(), "{" + user + R"(,"serverURL":"https://x"})",
          QByteArray(R"({"token":"t","serverURL":"https://x"})"), R"({"token":"t",)" + user + "}",
          R"({"token":7,)" + user + R"(,"serverURL":"https://x"})"}) {
        SCOPED_TRACE(data.toStdString());
        auto store = std::make_shared<MemorySecretStore>();
        store->setItem(SessionKeychain::service, SessionKeychain::key, data);
        EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);
        EXPECT_EQ(store->item(SessionKeychain::service, SessionKeychain::key), data);
    }
}

TEST(SessionKeychain, SavesOneItemAndFailuresSayWhetherItExisted) {
    auto store = std::make_shared<MemorySecretStore>();
    EXPECT_EQ(saveError(store, "first"), QString());
    EXPECT_EQ(saveError(store, "second"), QString());
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), session("second"));
    EXPECT_EQ(store->itemCount(), 1);
    EXPECT_EQ(store->item("app.varno.prototype", "session"), session("second").toJson());
    awaitTask(SessionKeychain::remove(store));
    EXPECT_EQ(store->itemCount(), 0);
    awaitTask(SessionKeychain::remove(store)); // nothing there: still silent

    const QString updateFailed = QStringLiteral("Could not update your Keychain session.");
    auto existing = std::make_shared<MemorySecretStore>();
    existing->setItem(SessionKeychain::service, SessionKeychain::key, session("old").toJson());
    existing->failWrites = true;
    EXPECT_EQ(saveError(existing, "new"), updateFailed);
    EXPECT_EQ(existing->item(SessionKeychain::service, SessionKeychain::key),
              session("old").toJson());

    auto empty = std::make_shared<MemorySecretStore>();
    empty->failWrites = true;
    EXPECT_EQ(saveError(empty, "new"), "Could not save your session in Keychain.");
    EXPECT_EQ(empty->itemCount(), 0);

    // A store that can't even be read reads as no session, and is not written to.
    auto unreadable = std::make_shared<MemorySecretStore>();
    unreadable->setItem(SessionKeychain::service, SessionKeychain::key, session("t").toJson());
    unreadable->failReads = true;
    EXPECT_EQ(awaitTask(SessionKeychain::read(unreadable)), std::nullopt);
    EXPECT_EQ(saveError(unreadable, "new"), updateFailed);
    EXPECT_EQ(unreadable->writes, 0);
}

TEST(SecretService, SessionRoundTripInARealKeyring) {
    if (test::isChildRun())
        return roundTripAgainstTheRunningService();
    if (QStandardPaths::findExecutable("dbus-run-session").isEmpty() ||
        QStandardPaths::findExecutable("gnome-keyring-daemon").isEmpty())
        GTEST_SKIP() << "needs dbus-run-session and gnome-keyring-daemon (scripts/setup)";
    const test::ChildRun child = test::runInPrivateSession(true, std::chrono::seconds(120));
    EXPECT_EQ(child.outcome, test::ChildRun::Outcome::passed) << child.output.toStdString();
}
