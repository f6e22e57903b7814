// SPDX-License-Identifier: MIT
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

// A server address as the user may have written it, without the spaces and slashes
// around it: the form requests are built on and accounts are keyed by.
QString trimmedServerAddress(const QString& address);

} // namespace varno
