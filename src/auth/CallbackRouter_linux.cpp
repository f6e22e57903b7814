// SPDX-License-Identifier: MIT
#include "auth/CallbackRouter.h"

#include "model/DesktopEntryEditor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace varno {

namespace {

const QString entryName = QStringLiteral("varno.desktop");
const QString mimeType = QStringLiteral("x-scheme-handler/varno");

// Our entry rewritten to start `executable` (its TryExec too: the packaged "varno"
// need not be on PATH for a build run from its folder).
QByteArray withExec(const QByteArray& entry, const QString& executable) {
    DesktopEntryEditor editor(entry);
    editor.setExecutable(executable, "%u");
    return editor.text();
}

// Whether `program` (an absolute path, or a name looked up on PATH) is `executable`.
bool sameProgram(const QString& program, const QString& executable) {
    if (program.isEmpty())
        return false;
    const QString resolved =
        QFileInfo(program).isAbsolute() ? program : QStandardPaths::findExecutable(program);
    const QString a = QFileInfo(resolved).canonicalFilePath();
    return !a.isEmpty() && a == QFileInfo(executable).canonicalFilePath();
}

// The installed entry of this program: the first varno.desktop in the system's
// applications folders, when its Exec starts this very executable (so a build
// run from its build folder never counts as installed).
bool installedEntryStarts(const QStringList& folders, const QString& executable) {
    for (const QString& folder : folders) {
        QFile file(QDir(folder).filePath(entryName));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = file.read(64 * 1024);
        const auto exec = DesktopEntryEditor(text).value("Exec");
        // The first entry found is the one the desktop uses.
        return exec && sameProgram(DesktopEntryEditor::execProgram(*exec), executable);
    }
    return false;
}

std::optional<QByteArray> runTool(const QString& program, const QStringList& args,
                                  std::chrono::milliseconds limit) {
    if (QStandardPaths::findExecutable(program).isEmpty())
        return std::nullopt;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForStarted(static_cast<int>(limit.count())))
        return std::nullopt;
    if (!process.waitForFinished(static_cast<int>(limit.count()))) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace

SchemeRegistrationOptions SchemeRegistrationOptions::defaults() {
    SchemeRegistrationOptions options;
    options.executable = QCoreApplication::applicationFilePath();
    options.applicationsDirectory =
        QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    // The user's own folder comes first; the rest are where packages install.
    options.installedApplicationsDirectories =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    options.installedApplicationsDirectories.removeAll(options.applicationsDirectory);
    options.run = runTool;
    return options;
}

SchemeRegistration registerSchemeHandler(const SchemeRegistrationOptions& options) {
    using Status = SchemeRegistration::Status;
    if (options.applicationsDirectory.isEmpty() || options.executable.isEmpty() ||
        options.desktopEntry.isEmpty())
        return {Status::Failed, QStringLiteral("Nothing to register.")};

    const QString path = QDir(options.applicationsDirectory).filePath(entryName);
    const bool present = QFileInfo::exists(path);
    if (installedEntryStarts(options.installedApplicationsDirectories, options.executable)) {
        // The package's entry declares the scheme already; a copy of our own
        // would shadow it and outlive the package.
        if (!options.replaceExisting)
            return {Status::Installed, QString()};
        // Asked to take over: a copy left by an earlier build would win over the
        // installed entry, so it goes.
        if (present) {
            if (!QFile::remove(path))
                return {Status::Failed, QStringLiteral("Could not remove %1.").arg(path)};
            if (options.run)
                options.run(QStringLiteral("update-desktop-database"),
                            {options.applicationsDirectory}, options.toolTimeLimit);
        }
    } else if (present && !options.replaceExisting) {
        // The start that installed it asked xdg-mime; asking at every start cost
        // over a dozen child processes.
        return {Status::EntryKept, QString()};
    } else {
        if (!QDir().mkpath(options.applicationsDirectory))
            return {Status::Failed,
                    QStringLiteral("Could not create %1.").arg(options.applicationsDirectory)};
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(withExec(options.desktopEntry, options.executable)) < 0 || !file.commit())
            return {Status::Failed, QStringLiteral("Could not write %1.").arg(path)};
        if (options.run)
            options.run(QStringLiteral("update-desktop-database"), {options.applicationsDirectory},
                        options.toolTimeLimit);
    }

    if (!options.run)
        return {Status::ToolMissing, QString()};
    const auto current = options.run(QStringLiteral("xdg-mime"),
                                     {QStringLiteral("query"), QStringLiteral("default"), mimeType},
                                     options.toolTimeLimit);
    if (!current)
        return {Status::ToolMissing, QStringLiteral("xdg-mime is not available.")};
    const QString owner = QString::fromUtf8(*current).trimmed();
    if (owner == entryName)
        return {Status::AlreadyDefault, owner};
    if (!owner.isEmpty())
        return {Status::OtherHandler, owner};
    if (!options.run(QStringLiteral("xdg-mime"), {QStringLiteral("default"), entryName, mimeType},
                     options.toolTimeLimit))
        return {Status::Failed, QStringLiteral("xdg-mime could not set the default handler.")};
    return {Status::Registered, entryName};
}

} // namespace varno
