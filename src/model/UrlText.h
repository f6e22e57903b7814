#pragma once

#include <QString>

#include <optional>

namespace varno {

// The scheme and host of a URL exactly as they are written. QUrl lower-cases both
// when it parses, so a check that must compare the text as written cannot use it.
struct UrlText {
    QString scheme;              // empty when the text has none
    std::optional<QString> host; // absent without an authority ("//"); an IPv6 host keeps
                                 // its brackets

    // Splits by the generic syntax only: no decoding, no case folding. Meant for text
    // that QUrl has already accepted.
    static UrlText split(const QString& url);
};

} // namespace varno
