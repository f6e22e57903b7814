#include "auth/SessionKeychain.h"
#include "auth/MemorySecretStore.h"
#include "model/Errors.h"

#include "support/AwaitTask.h"

#include <gtest/gtest.h>

using varno::AppError;
using varno::MemorySecretStore;
using varno::SavedSession;
using varno::SessionKeychain;
using varno::User;
using varno::test::awaitTask;

namespace {

SavedSession session(const char* token) {
    return SavedSession{QString::fromLatin1(token),
                        User{QStringLiteral("u1"), QStringLiteral("Ann"), QStringLiteral("a@x")},
                        QStringLiteral("https://varno.example")};
}

QString saveError(std::shared_ptr<MemorySecretStore> store, const SavedSession& s) {
    try {
        awaitTask(SessionKeychain::save(store, s));
        return {};
    } catch (const AppError& e) {
        return e.message();
    }
}

} // namespace

TEST(SessionKeychain, SaveReadAndOverwriteOneItem) {
    auto store = std::make_shared<MemorySecretStore>();
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);

    awaitTask(SessionKeychain::save(store, session("first")));
    awaitTask(SessionKeychain::save(store, session("second")));
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), session("second"));
    EXPECT_EQ(store->itemCount(), 1);
    EXPECT_EQ(store->item(QStringLiteral("app.varno.prototype"), QStringLiteral("session")),
              session("second").toJson());

    awaitTask(SessionKeychain::remove(store));
    EXPECT_EQ(store->itemCount(), 0);
    EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);
    awaitTask(SessionKeychain::remove(store)); // nothing there: still silent
}

TEST(SessionKeychain, BadItemsReadAsNothingAndStay) {
    const QList<QByteArray> bad = {
        "not json",
        R"({"user":{"id":"u","name":"n","email":"e"},"serverURL":"https://x"})",
        R"({"token":"t","serverURL":"https://x"})",
        R"({"token":"t","user":{"id":"u","name":"n","email":"e"}})",
        R"({"token":7,"user":{"id":"u","name":"n","email":"e"},"serverURL":"https://x"})",
        "",
    };
    for (const QByteArray& data : bad) {
        SCOPED_TRACE(data.toStdString());
        auto store = std::make_shared<MemorySecretStore>();
        store->setItem(SessionKeychain::service, SessionKeychain::key, data);
        EXPECT_EQ(awaitTask(SessionKeychain::read(store)), std::nullopt);
        EXPECT_EQ(store->item(SessionKeychain::service, SessionKeychain::key), data);
    }
    auto failing = std::make_shared<MemorySecretStore>();
    failing->setItem(SessionKeychain::service, SessionKeychain::key, session("t").toJson());
    failing->failReads = true;
    EXPECT_EQ(awaitTask(SessionKeychain::read(failing)), std::nullopt);
}

TEST(SessionKeychain, SaveFailuresSayWhetherTheItemExisted) {
    const QString updateFailed = QStringLiteral("Could not update your Keychain session.");
    const QString addFailed = QStringLiteral("Could not save your session in Keychain.");

    auto existing = std::make_shared<MemorySecretStore>();
    existing->setItem(SessionKeychain::service, SessionKeychain::key, session("old").toJson());
    existing->failWrites = true;
    EXPECT_EQ(saveError(existing, session("new")), updateFailed);
    EXPECT_EQ(existing->item(SessionKeychain::service, SessionKeychain::key),
              session("old").toJson());

    auto empty = std::make_shared<MemorySecretStore>();
    empty->failWrites = true;
    EXPECT_EQ(saveError(empty, session("new")), addFailed);
    EXPECT_EQ(empty->itemCount(), 0);

    // A store that can't even be read is not written to.
    auto unreadable = std::make_shared<MemorySecretStore>();
    unreadable->failReads = true;
    EXPECT_EQ(saveError(unreadable, session("new")), updateFailed);
    EXPECT_EQ(unreadable->writes, 0);
}
