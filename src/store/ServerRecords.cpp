// SPDX-License-Identifier: MIT
#include "store/ServerRecords.h"

namespace varno {

OK OK::decode(const JsonNode& node) {
    return OK{node.requiredBool(QStringLiteral("ok"))};
}

Failure Failure::decode(const JsonNode& node) {
    return Failure{node.requiredString(QStringLiteral("error"))};
}

Start Start::decode(const JsonNode& node) {
    const JsonNode member = node.member(QStringLiteral("url"));
    const QString text = member.string();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || text.isEmpty())
        throw DecodingError(
            QStringLiteral("expected a URL at %1 but found \"%2\"").arg(member.path(), text));
    return Start{url, text};
}

} // namespace varno
