// SPDX-License-Identifier: MIT
#include "auth/SessionFile.h"
#include "auth/KeychainSessionStorage.h"
#include "auth/MemorySecretStore.h"
#include "auth/SessionKeychain.h"
#include "model/Errors.h"

#include "support/AwaitTask.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace varno;
using test::awaitTask;
using test::modeOf;

namespace {

const SavedSession ada{"tok", User{"u1", "Ada", "ada@x"}, "https://varno.example"};

void chmodPath(const QString& path, int mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
}

QString refusal(const SessionFile& file) {
    try {
        file.readNow();
        return {};
    } catch (const AppError& error) {
        return error.message();
    }
}

} // namespace

TEST(SessionFile, KeepsTheSessionPrivateAndReplacesItWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("state/Varno/session.json");
    SessionFile file(path);
    EXPECT_EQ(file.readNow(), std::nullopt);
    EXPECT_FALSE(file.exists());

    awaitTask(file.save(ada));
    SavedSession grace = ada;
    grace.token = "tok-2";
    awaitTask(file.save(grace));
    EXPECT_EQ(awaitTask(file.read()), grace);
    EXPECT_EQ((QList<int>{modeOf(path), modeOf(dir.filePath("state/Varno")),
                          modeOf(dir.filePath("state"))}),
              (QList<int>{0600, 0700, 0700}));
    EXPECT_EQ(QDir(dir.filePath("state/Varno")).entryList(QDir::Files), QStringList{"session.json"})
        << "no temporary file is left behind";

    // Not a session: read as none and left as it is, like a bad keychain item.
    for (const QByteArray& data :
         {QByteArray("not json"), QByteArray(SessionFile::maxSize + 1, ' ')}) {
        ASSERT_TRUE(test::writeFile(path, data));
        EXPECT_EQ(file.readNow(), std::nullopt);
        EXPECT_TRUE(file.exists());
    }
    awaitTask(file.remove());
    EXPECT_FALSE(file.exists());
    awaitTask(file.remove()); // nothing there: silent
}

TEST(SessionFile, RefusesWhatOthersMayReadOrReplaceAndSaysHowToFixIt) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("Varno");
    const QString path = folder + "/session.json";
    const SessionFile file(path);
    const struct {
        const char* what;
        std::function<void()> spoil;
        QString expected; // in the message
    } cases[] = {
        {"readable by the group", [&] { chmodPath(path, 0640); },
         "Permissions 0640 for '" + path + "' are too open"},
        {"writable by others", [&] { chmodPath(path, 0602); }, "chmod 600 '" + path + "'"},
        {"an open folder", [&] { chmodPath(folder, 0755); },
         "Permissions 0755 for the folder '" + folder + "' are too open"},
        {"another user's file",
         [&] { ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 4242, gid_t(-1)), 0); },
         "'" + path + "' belongs to another user"},
        {"a symbolic link",
         [&] {
             QFile::rename(path, folder + "/elsewhere");
             QFile::link(folder + "/elsewhere", path);
         },
         "'" + path + "' is a symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (QString(c.what).contains("another user") && ::getuid() != 0)
            continue; // only root can give a file away
        QDir(folder).removeRecursively();
        file.saveNow(ada);
        c.spoil();
        EXPECT_TRUE(refusal(file).contains(c.expected)) << refusal(file).toStdString();
    }
    // A folder others may write to is not written to either.
    QDir(folder).removeRecursively();
    file.saveNow(ada);
    chmodPath(folder, 0777);
    EXPECT_THROW(file.saveNow(ada), AppError);
}

TEST(SessionStorage, TheFileWhereOneIsElseTheKeyringWhenItAnswers) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Varno/session.json");
    const auto chosen = [&](bool keyringAnswers) {
        auto keyring = std::make_shared<MemorySecretStore>();
        keyring->failReads = !keyringAnswers;
        return awaitTask(SessionStorage::forThisMachine(keyring, path));
    };
    EXPECT_NE(dynamic_cast<KeychainSessionStorage*>(chosen(true).get()), nullptr);
    EXPECT_EQ(chosen(false)->place(), path);
    SessionFile(path).saveNow(ada);
    EXPECT_EQ(chosen(true)->place(), path) << "this machine signed in without a keyring";
}
