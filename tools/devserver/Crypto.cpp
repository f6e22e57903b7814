// SPDX-License-Identifier: MIT
#include "Crypto.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

namespace varno::devserver {

QString randomHex(int bytes) {
    QByteArray raw(bytes, Qt::Uninitialized);
    for (auto& b : raw)
        b = static_cast<char>(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

QString sha256Hex(const QString& text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool isLowerHex64(const QString& text) {
    if (text.size() != 64)
        return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
}

} // namespace varno::devserver
