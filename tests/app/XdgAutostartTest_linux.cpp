// SPDX-License-Identifier: MIT
#include "app/XdgAutostart.h"
#include "model/DesktopEntryEditor.h"
#include "model/Errors.h"

#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace varno {
namespace {

const QByteArray appEntry = "[Desktop Entry]\nType=Application\nName=Varno\nExec=varno %u\n"
                            "Icon=varno\nMimeType=x-scheme-handler/varno;\n";

using test::modeOf;
using test::readFile;
using test::Umask;
using test::writeFile;

TEST(XdgAutostart, TogglingWritesAPrivateEntryAndRemovesIt) {
    QTemporaryDir config;
    const QString folder = config.filePath(QStringLiteral("autostart"));
    XdgAutostart item(folder, QStringLiteral("/opt/my apps/varno"), appEntry);
    Umask permissive(0); // the entry must be private whatever the umask
    EXPECT_FALSE(item.isEnabled()) << "off until the user turns it on";

    item.setEnabled(true);
    EXPECT_TRUE(item.isEnabled());
    EXPECT_EQ(item.entryPath(), folder + QStringLiteral("/varno.desktop"));
    EXPECT_EQ(modeOf(item.entryPath()), 0600);
    EXPECT_EQ(modeOf(folder), 0700) << "a folder the app had to create is private too";
    const DesktopEntryEditor entry(readFile(item.entryPath()));
    EXPECT_EQ(DesktopEntryEditor::execProgram(*entry.value("Exec")), "/opt/my apps/varno");
    EXPECT_EQ(entry.value("Exec"), QByteArray("\"/opt/my apps/varno\"")) << "no %u: no link";
    EXPECT_EQ(entry.value("TryExec"), QByteArray("/opt/my apps/varno")) << "skipped once removed";
    EXPECT_EQ(entry.value("Name"), QByteArray("Varno"));
    EXPECT_EQ(entry.value("Icon"), QByteArray("varno"));
    EXPECT_FALSE(entry.value("MimeType")) << "only the application's entry handles links";
    // As the desktop's own tools read it: nothing to remark.
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(QStringLiteral("desktop-file-validate"), {item.entryPath()});
    ASSERT_TRUE(validate.waitForFinished(30000));
    EXPECT_EQ(validate.exitCode(), 0);
    EXPECT_EQ(validate.readAll(), QByteArray());

    item.setEnabled(true); // again: replaced in place, nothing left over
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"varno.desktop"});

    item.setEnabled(false);
    EXPECT_FALSE(item.isEnabled());
    EXPECT_FALSE(QFileInfo::exists(item.entryPath()));
    item.setEnabled(false); // already off: no error
}

TEST(XdgAutostart, ShowsWhatTheDesktopWouldDo) {
    QTemporaryDir config;
    XdgAutostart item(config.path(), QStringLiteral("/usr/bin/varno"), appEntry);
    const struct {
        const char* extra;
        bool enabled;
    } cases[] = {
        {"", true},
        {"Hidden=true\n", false},
        {"Hidden = True\n", false},
        {"Hidden=false\n", true},
        {"X-GNOME-Autostart-enabled=false\n", false},
        {"X-GNOME-Autostart-enabled=true\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra);
        item.setEnabled(true);
        ASSERT_TRUE(writeFile(item.entryPath(), readFile(item.entryPath()) + c.extra));
        EXPECT_EQ(item.isEnabled(), c.enabled);
    }
    // Removed by hand, or replaced by a folder: off.
    QFile::remove(item.entryPath());
    EXPECT_FALSE(item.isEnabled());
    ASSERT_TRUE(QDir(config.path()).mkdir(QStringLiteral("varno.desktop")));
    EXPECT_FALSE(item.isEnabled());
}

TEST(XdgAutostart, FailuresSayWhatWentWrongAndLeaveNothingBehind) {
    QTemporaryDir config;
    // The autostart "folder" is a file.
    ASSERT_TRUE(writeFile(config.filePath(QStringLiteral("autostart")), "not a folder"));
    XdgAutostart blocked(config.filePath(QStringLiteral("autostart")), QStringLiteral("/v"),
                         appEntry);
    try {
        blocked.setEnabled(true);
        ADD_FAILURE() << "no error";
    } catch (const AppError& error) {
        EXPECT_TRUE(error.message().startsWith(QStringLiteral("Could not create the folder ")))
            << error.message().toStdString();
    }

    // A folder where the entry should be: the error names the entry, and the
    // private temporary file is gone.
    QTemporaryDir occupied;
    XdgAutostart item(occupied.path(), QStringLiteral("/v"), appEntry);
    ASSERT_TRUE(QDir(occupied.path()).mkpath(QStringLiteral("varno.desktop/inside")));
    try {
        item.setEnabled(true);
        ADD_FAILURE() << "no error";
    } catch (const AppError& error) {
        EXPECT_TRUE(error.message().startsWith("Could not write " + item.entryPath() + ": "))
            << error.message().toStdString();
    }
    EXPECT_EQ(
        QDir(occupied.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"varno.desktop"});
    EXPECT_THROW(item.setEnabled(false), AppError) << "a folder is not removed as an entry";

    // An entry that is a link elsewhere is replaced, never written through.
    const QString target = config.filePath(QStringLiteral("target"));
    ASSERT_TRUE(writeFile(target, "someone else's file"));
    XdgAutostart linked(config.path(), QStringLiteral("/v"), appEntry);
    ASSERT_TRUE(QFile::link(target, linked.entryPath()));
    linked.setEnabled(true);
    EXPECT_EQ(readFile(target), QByteArray("someone else's file"));
    EXPECT_FALSE(QFileInfo(linked.entryPath()).isSymLink());
    EXPECT_EQ(modeOf(linked.entryPath()), 0600);
}

} // namespace
} // namespace varno
