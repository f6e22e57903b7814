// SPDX-License-Identifier: MIT
#pragma once

#include "model/Json.h"

#include <QString>
#include <QUrl>

namespace varno {

// The server's acknowledgement of a call that returns nothing else.
struct OK {
    bool ok = false;
    static OK decode(const JsonNode& node);
};

// The body the server sends with a status outside 200 to 299.
struct Failure {
    QString error;
    static Failure decode(const JsonNode& node);
};

// The answer of the sign-in start: where the browser is to go.
struct Start {
    QUrl url;
    QString urlText; // as the server wrote it
    static Start decode(const JsonNode& node);
};

} // namespace varno
