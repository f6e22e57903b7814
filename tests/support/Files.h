// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

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

} // namespace varno::test
