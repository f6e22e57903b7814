// SPDX-License-Identifier: MIT
#include "app/XdgAutostart.h"

#include "model/DesktopEntryEditor.h"
#include "model/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varno {

namespace {

const QString entryName = QStringLiteral("varno.desktop");
// A desktop entry is a few hundred bytes; anything far larger is not ours to parse.
constexpr qint64 maxEntrySize = 64 * 1024;

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool isFalse(const std::optional<QByteArray>& value) {
    return value && value->trimmed().toLower() == "false";
}

// Creates the autostart folder (only the last level is ours to make private).
void makeDirectory(const QString& directory) {
    const QFileInfo info(directory);
    if (info.isDir())
        return;
    if (info.exists() || !QDir().mkpath(info.absolutePath()) ||
        ::mkdir(QFile::encodeName(directory).constData(), 0700) != 0)
        throw AppError(QStringLiteral("Could not create the folder %1.").arg(directory));
}

// Writes `content` to `path` through a private temporary file in the same folder,
// renamed over the old entry, so a crash never leaves a half-written entry and
// the file is never readable by others, whatever the umask.
void writePrivately(const QString& path, const QByteArray& content) {
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC); // mode 0600, O_EXCL
    if (fd < 0)
        throw AppError(QStringLiteral("Could not write %1: %2.").arg(path, systemError(errno)));
    const auto failWith = [&](int code) {
        ::close(fd);
        ::unlink(temporary.constData());
        throw AppError(QStringLiteral("Could not write %1: %2.").arg(path, systemError(code)));
    };
    for (qsizetype written = 0; written < content.size();) {
        const ssize_t n = ::write(fd, content.constData() + written,
                                  static_cast<size_t>(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failWith(n < 0 ? errno : EIO);
        written += n;
    }
    if (::fsync(fd) != 0)
        failWith(errno);
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        throw AppError(QStringLiteral("Could not write %1: %2.").arg(path, systemError(code)));
    }
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int code = errno;
        ::unlink(temporary.constData());
        throw AppError(QStringLiteral("Could not write %1: %2.").arg(path, systemError(code)));
    }
}

} // namespace

XdgAutostart::XdgAutostart(QString autostartDirectory, QString executable, QByteArray desktopEntry)
    : directory_(std::move(autostartDirectory)), executable_(std::move(executable)),
      desktopEntry_(std::move(desktopEntry)) {}

std::unique_ptr<XdgAutostart> XdgAutostart::forCurrentUser(const QByteArray& desktopEntry) {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::make_unique<XdgAutostart>(QDir(config).filePath(QStringLiteral("autostart")),
                                          QCoreApplication::applicationFilePath(), desktopEntry);
}

QString XdgAutostart::entryPath() const {
    return QDir(directory_).filePath(entryName);
}

bool XdgAutostart::isEnabled() const {
    QFile file(entryPath());
    // The desktop reads only regular files it can open; neither can we then.
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const DesktopEntryEditor entry(file.read(maxEntrySize));
    return !isFalse(entry.value("X-GNOME-Autostart-enabled")) &&
           entry.value("Hidden").value_or(QByteArray()).trimmed().toLower() != "true";
}

void XdgAutostart::setEnabled(bool enabled) {
    const QString path = entryPath();
    if (!enabled) {
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
            throw AppError(
                QStringLiteral("Could not remove %1: %2.").arg(path, systemError(errno)));
        return;
    }
    makeDirectory(directory_);
    writePrivately(path, entryText());
}

QByteArray XdgAutostart::entryText() const {
    DesktopEntryEditor entry(desktopEntry_);
    // Started with no link to open; and only the application's own entry handles
    // varno:// links. TryExec: once the program is removed, the session skips the entry.
    entry.setExecutable(executable_);
    entry.remove("MimeType");
    entry.remove("Hidden");
    entry.set("X-GNOME-Autostart-enabled", "true");
    QByteArray text = entry.text();
    if (!text.endsWith('\n'))
        text += '\n';
    return text;
}

} // namespace varno
