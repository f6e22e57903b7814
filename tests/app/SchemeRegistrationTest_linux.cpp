// SPDX-License-Identifier: MIT
#include "auth/CallbackRouter.h"

#include "support/Files.h"
#include "support/ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

// A stand-in for xdg-mime first on PATH that keeps the default handler in a
// file, so registration runs real child processes.
struct FakeXdgMime {
    explicit FakeXdgMime(const QString& owner) {
        test::writeFile(state, owner.toUtf8());
        test::writeFile(dir.filePath(QStringLiteral("xdg-mime")),
                        QStringLiteral("#!/bin/sh\ncase \"$1\" in\n"
                                       "  query) cat '%1'; [ -s '%1' ] && echo; true ;;\n"
                                       "  default) printf %s \"$2\" > '%1' ;;\nesac\n")
                            .arg(state)
                            .toUtf8());
        QFile::setPermissions(dir.filePath(QStringLiteral("xdg-mime")),
                              QFile::ExeOwner | QFile::ReadOwner);
        path.set((dir.path() + u':').toUtf8() + qgetenv("PATH"));
    }

    QTemporaryDir dir;
    QString state = dir.filePath(QStringLiteral("default"));
    const test::ScopedEnvironment path{"PATH"};
};

TEST(SchemeRegistration, BecomesTheHandlerOnlyWhenNobodyElseIs) {
    using Status = SchemeRegistration::Status;
    const std::pair<QString, Status> cases[] = {
        {QString(), Status::Registered},
        {QStringLiteral("varno.desktop"), Status::AlreadyDefault},
        {QStringLiteral("other-client.desktop"), Status::OtherHandler},
    };
    for (const auto& [owner, expected] : cases) {
        SCOPED_TRACE(owner.toStdString());
        QTemporaryDir home;
        FakeXdgMime xdg(owner);
        SchemeRegistrationOptions options = SchemeRegistrationOptions::defaults();
        options.desktopEntry = "[Desktop Entry]\nType=Application\nName=Varno\nExec=varno %u\n"
                               "MimeType=x-scheme-handler/varno;\n"
                               "[Desktop Action Other]\nExec=leave-me %u\n";
        options.executable = QStringLiteral("/home/a b/varno");
        options.applicationsDirectory = home.filePath(QStringLiteral("applications"));
        options.toolTimeLimit = 2s;
        const SchemeRegistration result = registerSchemeHandler(options);
        EXPECT_EQ(result.status, expected) << result.detail.toStdString();
        EXPECT_EQ(test::readFile(xdg.state).trimmed().toStdString(),
                  owner.isEmpty() ? "varno.desktop" : owner.toStdString());
        if (expected == Status::OtherHandler)
            EXPECT_EQ(result.detail.toStdString(), owner.toStdString());
        // Our entry is installed either way; it never claims the scheme by itself.
        const QByteArray entry =
            test::readFile(home.filePath(QStringLiteral("applications/varno.desktop")));
        EXPECT_TRUE(entry.contains("\nExec=\"/home/a b/varno\" %u\n")) << entry.constData();
        EXPECT_TRUE(entry.contains("\nTryExec=/home/a b/varno\n")) << "not the packaged name";
        EXPECT_TRUE(entry.contains("Exec=leave-me %u")) << "other groups are left alone";

        // Later starts find the entry and ask nobody: no child process at all.
        int runs = 0;
        options.run = [&runs, run = options.run](const QString& program, const QStringList& args,
                                                 std::chrono::milliseconds limit) {
            ++runs;
            return run(program, args, limit);
        };
        EXPECT_EQ(registerSchemeHandler(options).status, Status::EntryKept);
        EXPECT_EQ(runs, 0);
    }
}

// Installed from the package, the system's entry declares the scheme: first start
// writes no copy of its own (it would shadow the package's and outlive it), and an
// explicit registration clears a copy an earlier build left behind.
TEST(SchemeRegistration, AnInstalledProgramReliesOnItsInstalledEntry) {
    using Status = SchemeRegistration::Status;
    const struct {
        const char* name;
        const char* installedExec; // Exec of the system's varno.desktop
        bool explicitRequest;
        bool staleCopy;    // a user copy from an earlier build
        const char* owner; // default handler before
        Status expected;
        bool copyAfter; // a user copy exists afterwards
        const char* ownerAfter;
    } cases[] = {
        {"first start", "varno %u", false, false, "", Status::Installed, false, ""},
        {"first start, old copy", "varno %u", false, true, "", Status::Installed, true, ""},
        {"explicit", "varno %u", true, false, "", Status::Registered, false, "varno.desktop"},
        {"explicit, old copy", "varno %u", true, true, "varno.desktop", Status::AlreadyDefault,
         false, "varno.desktop"},
        {"another program installed", "/usr/bin/other %u", false, false, "", Status::Registered,
         true, "varno.desktop"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir home, system;
        FakeXdgMime xdg(QString::fromUtf8(c.owner));
        // This program, found on PATH as "varno".
        const QString executable = xdg.dir.filePath(QStringLiteral("varno"));
        test::writeFile(executable, "#!/bin/sh\n");
        QFile::setPermissions(executable, QFile::ExeOwner | QFile::ReadOwner);
        ASSERT_TRUE(QDir().mkpath(system.filePath(QStringLiteral("applications"))));
        test::writeFile(system.filePath(QStringLiteral("applications/varno.desktop")),
                        QByteArray("[Desktop Entry]\nName=Varno\nExec=") + c.installedExec +
                            "\nMimeType=x-scheme-handler/varno;\n");
        const QString userFolder = home.filePath(QStringLiteral("applications"));
        const QString userCopy = userFolder + QStringLiteral("/varno.desktop");
        if (c.staleCopy) {
            ASSERT_TRUE(QDir().mkpath(userFolder));
            test::writeFile(userCopy, "[Desktop Entry]\nExec=/old/build/varno %u\n");
        }
        SchemeRegistrationOptions options = SchemeRegistrationOptions::defaults();
        options.desktopEntry = "[Desktop Entry]\nName=Varno\nExec=varno %u\n";
        options.executable = executable;
        options.applicationsDirectory = userFolder;
        options.installedApplicationsDirectories = {
            system.filePath(QStringLiteral("applications"))};
        options.replaceExisting = c.explicitRequest;
        options.toolTimeLimit = 2s;

        const SchemeRegistration result = registerSchemeHandler(options);
        EXPECT_EQ(result.status, c.expected) << result.detail.toStdString();
        EXPECT_EQ(QFileInfo::exists(userCopy), c.copyAfter);
        EXPECT_EQ(test::readFile(xdg.state).trimmed().toStdString(), c.ownerAfter);
    }
}

} // namespace
} // namespace varno
