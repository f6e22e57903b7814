// SPDX-License-Identifier: MIT
#include "model/OutsideText.h"

#include <algorithm>

namespace varno {
namespace {

bool isDirectionControl(char16_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString boundedText(const QString& text, qsizetype maxLength) {
    maxLength = std::max<qsizetype>(maxLength, 2);
    QString clean;
    clean.reserve(std::min(text.size(), maxLength + 1));
    bool pendingSpace = false;
    for (qsizetype i = 0; i < text.size() && clean.size() <= maxLength; ++i) {
        const QChar c = text.at(i);
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            pendingSpace = !clean.isEmpty();
            continue;
        }
        if (isDirectionControl(c.unicode()))
            continue;
        if (pendingSpace)
            clean.append(QLatin1Char(' '));
        pendingSpace = false;
        const bool pair =
            c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        // Half of a pair alone is no character, and would not survive UTF-8.
        clean.append(c.isSurrogate() && !pair ? QChar(QChar::ReplacementCharacter) : c);
        if (pair)
            clean.append(text.at(++i));
    }
    if (clean.size() > maxLength) {
        qsizetype cut = maxLength - 1;
        if (clean.at(cut - 1).isHighSurrogate())
            --cut;
        clean = clean.left(cut).trimmed() + QChar(0x2026);
    }
    return clean;
}

QString isolatedName(const QString& name) {
    const QString clean = boundedText(name, maxNameLength);
    if (clean.isEmpty())
        return clean;
    return QChar(0x2068) + clean + QChar(0x2069);
}

QString personName(const QString& name) {
    const QString isolated = isolatedName(name);
    return isolated.isEmpty() ? QStringLiteral("Someone") : isolated;
}

} // namespace varno
