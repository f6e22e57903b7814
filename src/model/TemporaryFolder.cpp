// SPDX-License-Identifier: MIT
#include "model/TemporaryFolder.h"

#include <QDir>
#include <QFileInfo>

namespace varno {

QString temporaryFolder() {
    const QString path = QDir::tempPath();
    if (!path.isEmpty() && QFileInfo(path).isDir())
        return path;
    return QStringLiteral("/tmp");
}

} // namespace varno
