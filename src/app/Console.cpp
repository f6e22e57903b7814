// SPDX-License-Identifier: MIT
#include "app/Console.h"

#include <QByteArray>

namespace varno {

void printText(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace varno
