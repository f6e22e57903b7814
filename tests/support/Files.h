// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

#include <sys/stat.h>

namespace varno::test {

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
inline QString readText(const QString& path) {
    return QString::fromUtf8(readFile(path));
}

// Writes a whole file, making its folders first; false when any step fails.
inline bool writeFile(const QString& path, const QByteArray& content,
                      std::optional<QFile::Permissions> permissions = std::nullopt) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size() &&
           (!permissions || file.setPermissions(*permissions));
}

// The permission bits of a file, or of a link itself; -1 when there is none.
inline int modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

// Sets the umask for a scope.
struct Umask {
    explicit Umask(mode_t mask) : old(::umask(mask)) {}
    ~Umask() { ::umask(old); }
    mode_t old;
};

} // namespace varno::test
