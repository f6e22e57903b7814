#include "auth/CallbackRouter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace varno {
namespace {

const QByteArray entryTemplate = "[Desktop Entry]\nType=Application\nName=Varno\nExec=varno %u\n"
                                 "MimeType=x-scheme-handler/varno;\n"
                                 "[Desktop Action Other]\nExec=leave-me %u\n";

// A stand-in for xdg-mime on PATH that keeps the default handler in a file, so
// registration runs real child processes.
class FakeXdgMime {
public:
    explicit FakeXdgMime(const QString& owner, bool hang = false) {
        const QString bin = dir.filePath(QStringLiteral("bin"));
        QDir().mkpath(bin);
        state = dir.filePath(QStringLiteral("default"));
        log = dir.filePath(QStringLiteral("calls"));
        QFile stateFile(state);
        stateFile.open(QIODevice::WriteOnly);
        stateFile.write(owner.toUtf8());
        stateFile.close();
        QFile script(bin + QStringLiteral("/xdg-mime"));
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "echo \"$*\" >> '%1'\n"
                                    "%3"
                                    "case \"$1\" in\n"
                                    "  query) cat '%2'; [ -s '%2' ] && echo; true ;;\n"
                                    "  default) printf %s \"$2\" > '%2' ;;\n"
                                    "esac\n")
                         .arg(log, state, hang ? QStringLiteral("exec sleep 30\n") : QString())
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        oldPath = qgetenv("PATH");
        qputenv("PATH", (bin + u':').toUtf8() + oldPath);
    }
    ~FakeXdgMime() { qputenv("PATH", oldPath); }

    QString owner() const {
        QFile f(state);
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll()).trimmed();
    }
    QStringList calls() const {
        QFile f(log);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir dir;
    QString state, log;
    QByteArray oldPath;
};

SchemeRegistrationOptions optionsIn(const QTemporaryDir& home, const QString& executable) {
    SchemeRegistrationOptions options = SchemeRegistrationOptions::defaults();
    options.desktopEntry = entryTemplate;
    options.executable = executable;
    options.applicationsDirectory = home.filePath(QStringLiteral("applications"));
    options.toolTimeLimit = 2s;
    return options;
}

QByteArray installedEntry(const QTemporaryDir& home) {
    QFile f(home.filePath(QStringLiteral("applications/varno.desktop")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(SchemeRegistration, BecomesTheHandlerOnlyWhenNobodyElseIs) {
    using Status = SchemeRegistration::Status;
    struct Case {
        QString owner;
        Status expected;
        QString ownerAfter;
    } cases[] = {
        {QString(), Status::Registered, QStringLiteral("varno.desktop")},
        {QStringLiteral("varno.desktop"), Status::AlreadyDefault, QStringLiteral("varno.desktop")},
        {QStringLiteral("other-client.desktop"), Status::OtherHandler,
         QStringLiteral("other-client.desktop")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.owner.toStdString());
        QTemporaryDir home;
        FakeXdgMime xdg(c.owner);
        const SchemeRegistration result =
            registerSchemeHandler(optionsIn(home, QStringLiteral("/opt/varno/bin/varno")));
        EXPECT_EQ(result.status, c.expected) << result.detail.toStdString();
        EXPECT_EQ(xdg.owner(), c.ownerAfter);
        if (c.expected == Status::OtherHandler)
            EXPECT_EQ(result.detail, c.owner);
        // Our entry is installed either way; it never claims the scheme by itself.
        const QByteArray entry = installedEntry(home);
        EXPECT_TRUE(entry.contains("\nExec=/opt/varno/bin/varno %u\n")) << entry.constData();
        EXPECT_TRUE(entry.contains("Exec=leave-me %u")) << "other groups are left alone";
    }
}

TEST(SchemeRegistration, QuotesAnExecutablePathWithSpecialCharacters) {
    QTemporaryDir home;
    FakeXdgMime xdg(QString());
    registerSchemeHandler(optionsIn(home, QStringLiteral("/home/a b/$x/100%/varno")));
    EXPECT_TRUE(installedEntry(home).contains("Exec=\"/home/a b/\\\\$x/100%%/varno\" %u"))
        << installedEntry(home).constData();
}

TEST(SchemeRegistration, KeepsAnInstalledEntryUnlessAskedToReplaceIt) {
    QTemporaryDir home;
    FakeXdgMime xdg(QStringLiteral("varno.desktop"));
    registerSchemeHandler(optionsIn(home, QStringLiteral("/first/varno")));
    registerSchemeHandler(optionsIn(home, QStringLiteral("/second/varno")));
    EXPECT_TRUE(installedEntry(home).contains("Exec=/first/varno %u"));

    auto options = optionsIn(home, QStringLiteral("/second/varno"));
    options.replaceExisting = true;
    registerSchemeHandler(options);
    EXPECT_TRUE(installedEntry(home).contains("Exec=/second/varno %u"));
}

TEST(SchemeRegistration, ToleratesMissingOrHangingTools) {
    using Status = SchemeRegistration::Status;
    {
        QTemporaryDir home;
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", home.path().toUtf8()); // nothing to run here
        const auto result = registerSchemeHandler(optionsIn(home, QStringLiteral("/x/varno")));
        qputenv("PATH", oldPath);
        EXPECT_EQ(result.status, Status::ToolMissing);
        EXPECT_FALSE(installedEntry(home).isEmpty());
    }
    {
        QTemporaryDir home;
        FakeXdgMime xdg(QString(), /*hang=*/true);
        auto options = optionsIn(home, QStringLiteral("/x/varno"));
        options.toolTimeLimit = 200ms;
        const auto started = std::chrono::steady_clock::now();
        const auto result = registerSchemeHandler(options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        EXPECT_EQ(result.status, Status::ToolMissing);
        EXPECT_EQ(xdg.calls().size(), 1) << "no default is set after a failed query";
    }
}

} // namespace
} // namespace varno
