#include "auth/CallbackRouter.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

// A stand-in for xdg-mime first on PATH that keeps the default handler in a
// file, so registration runs real child processes.
struct FakeXdgMime {
    explicit FakeXdgMime(const QString& owner) {
        write(state, owner.toUtf8());
        write(dir.filePath(QStringLiteral("xdg-mime")),
              QStringLiteral("#!/bin/sh\ncase \"$1\" in\n"
                             "  query) cat '%1'; [ -s '%1' ] && echo; true ;;\n"
                             "  default) printf %s \"$2\" > '%1' ;;\nesac\n")
                  .arg(state)
                  .toUtf8());
        QFile::setPermissions(dir.filePath(QStringLiteral("xdg-mime")),
                              QFile::ExeOwner | QFile::ReadOwner);
        qputenv("PATH", (dir.path() + u':').toUtf8() + oldPath);
    }
    ~FakeXdgMime() { qputenv("PATH", oldPath); }
    static void write(const QString& path, const QByteArray& content) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
    }
    static QByteArray read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString state = dir.filePath(QStringLiteral("default"));
    QByteArray oldPath = qgetenv("PATH");
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
        EXPECT_EQ(FakeXdgMime::read(xdg.state).trimmed().toStdString(),
                  owner.isEmpty() ? "varno.desktop" : owner.toStdString());
        if (expected == Status::OtherHandler)
            EXPECT_EQ(result.detail.toStdString(), owner.toStdString());
        // Our entry is installed either way; it never claims the scheme by itself.
        const QByteArray entry =
            FakeXdgMime::read(home.filePath(QStringLiteral("applications/varno.desktop")));
        EXPECT_TRUE(entry.contains("\nExec=\"/home/a b/varno\" %u\n")) << entry.constData();
        EXPECT_TRUE(entry.contains("Exec=leave-me %u")) << "other groups are left alone";
    }
}

} // namespace
} // namespace varno
