#include "auth/CallbackRouter.h"

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

// Exec arguments are quoted when they hold anything but plain characters; inside
// quotes ", `, $ and \ are escaped, and every backslash is then escaped once more
// because the key's value is itself a string with escapes.
QString execArgument(const QString& path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    bool plain = true;
    for (QChar c : path)
        if (reserved.contains(c))
            plain = false;
    if (plain)
        return path;
    QString quoted;
    for (QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

QByteArray withExec(const QByteArray& entry, const QString& executable) {
    QList<QByteArray> lines = entry.split('\n');
    const QByteArray exec = "Exec=" + execArgument(executable).toUtf8() + " %u";
    bool inMainGroup = false;
    bool replaced = false;
    for (QByteArray& line : lines) {
        if (line.startsWith('['))
            inMainGroup = line.trimmed() == "[Desktop Entry]";
        else if (inMainGroup && line.startsWith("Exec=")) {
            line = exec;
            replaced = true;
        }
    }
    if (!replaced) {
        // No Exec in the template: put one right after the group header.
        const qsizetype header = lines.indexOf("[Desktop Entry]");
        lines.insert(header < 0 ? 0 : header + 1, exec);
        if (header < 0)
            lines.insert(0, "[Desktop Entry]");
    }
    return lines.join('\n');
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
    if (!present || options.replaceExisting) {
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
