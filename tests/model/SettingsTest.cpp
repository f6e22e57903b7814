// SPDX-License-Identifier: MIT
#include "model/Settings.h"

#include "support/Files.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace varno;

namespace {
struct SettingsFile {
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Varno.conf"); }
    std::unique_ptr<QSettings> open() const {
        return std::make_unique<QSettings>(path(), QSettings::IniFormat);
    }
};
} // namespace

TEST(Settings, ServerAddressPreference) {
    SettingsFile file;
    auto s = file.open();
    EXPECT_EQ(settings::chooseServerURL(*s, {}), QStringLiteral("http://localhost:3000"));
    EXPECT_EQ(settings::chooseServerURL(*s, {{"VarnoServerURL", 42}}),
              QStringLiteral("http://localhost:3000"));
    EXPECT_EQ(settings::chooseServerURL(*s, {{"VarnoServerURL", QVariantMap{{"a", "b"}}}}),
              QStringLiteral("http://localhost:3000"));
    EXPECT_EQ(settings::chooseServerURL(*s, {{"VarnoServerURL", " https://build.example "}}),
              QStringLiteral(" https://build.example "));
    s->setValue("serverURL", "https://user.example");
    EXPECT_EQ(settings::chooseServerURL(*s, {{"VarnoServerURL", "https://build.example"}}),
              QStringLiteral("https://user.example"));
}

TEST(Settings, DeviceIdIsMadeOnceAndSurvivesRestarts) {
    SettingsFile file;
    QString first;
    {
        auto s = file.open();
        first = settings::loadOrCreateDeviceId(*s);
    }
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(first)
                    .hasMatch())
        << first.toStdString();
    // Read back, it is not written again: the file is the very same one.
    const auto inode = [&] {
        struct stat st {};
        return ::stat(QFile::encodeName(file.path()).constData(), &st) == 0 ? st.st_ino : 0;
    };
    const auto before = inode();
    EXPECT_EQ(settings::loadOrCreateDeviceId(*file.open()), first);
    EXPECT_EQ(inode(), before);

    QFile::remove(file.path());
    EXPECT_NE(settings::loadOrCreateDeviceId(*file.open()), first);
}

TEST(Settings, HiddenFriendsRoundTripAndRejectBadShapes) {
    SettingsFile file;
    const QMap<QString, QStringList> map{{"https://x\nu1", {"a", "b"}}, {"http://y\nu2", {}}};
    settings::writeHiddenFriends(*file.open(), map);
    EXPECT_EQ(settings::readHiddenFriends(*file.open()), map);

    auto s = file.open();
    s->setValue("hiddenFriendsByAccount", "not a map");
    EXPECT_TRUE(settings::readHiddenFriends(*s).isEmpty());
    s->setValue("hiddenFriendsByAccount", QVariantMap{{"k", QVariantList{"a", 3}}});
    EXPECT_TRUE(settings::readHiddenFriends(*s).isEmpty());
    s->setValue("hiddenFriendsByAccount", QVariantMap{{"k", QStringList{"a"}}, {"j", 5}});
    EXPECT_TRUE(settings::readHiddenFriends(*s).isEmpty());
}

// An older Varno stored both maps as binary values; they are rewritten as readable
// text once, keeping every entry, and read the same in either form.
TEST(Settings, MapsAreStoredReadablyAndOldBinaryOnesAreUpgraded) {
    SettingsFile file;
    const QVariantMap news{
        {"https://x\nu1", QVariantMap{{"requests", QStringList{"r1"}},
                                      {"below", QStringList{"b"}},
                                      {"passed", QVariantMap{{"c", "2026-12-05"}}}}}};
    const QMap<QString, QStringList> hidden{{"https://x\nu1", {"a"}}};
    const auto contents = [&] { return test::readFile(file.path()); };
    {
        auto old = file.open();
        old->setValue(settings::friendNewsByAccountKey, news);
        old->setValue(settings::hiddenFriendsByAccountKey,
                      QVariantMap{{"https://x\nu1", QStringList{"a"}}});
    }
    ASSERT_EQ(contents().count("@Variant("), 2) << contents().constData();
    EXPECT_EQ(settings::readHiddenFriends(*file.open()), hidden) << "the old form still reads";

    settings::upgradeStoredMaps(*file.open());
    const QByteArray upgraded = contents();
    EXPECT_FALSE(upgraded.contains("@Variant(")) << upgraded.constData();
    EXPECT_TRUE(upgraded.contains(R"(\"below\":[\"b\"])")) << upgraded.constData();
    auto s = file.open();
    EXPECT_EQ(QJsonDocument::fromVariant(settings::readFriendNewsByAccount(*s)),
              QJsonDocument::fromVariant(news));
    EXPECT_EQ(settings::readHiddenFriends(*s), hidden);

    settings::upgradeStoredMaps(*file.open());
    EXPECT_EQ(contents(), upgraded) << "once: text stays as it is";
}
