// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <optional>
#include <utility>

namespace varno {

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

// What one caller allows an exchange: every bound is applied by the transfer itself.
struct TransferLimits {
    // Header and decompressed body bytes together; the transfer stops the moment the
    // count passes this, and nothing more is read.
    qint64 maxAnswerBytes = 16 * 1024 * 1024;
    // No byte moving for this long ends the exchange...
    std::chrono::milliseconds stallTimeout{20000};
    // ...and so does the whole exchange, redirects included, taking longer than this.
    std::chrono::milliseconds deadline{std::chrono::minutes(2)};
    // Redirects followed, only ever to the same scheme, host and port; 0 hands every
    // 3xx back as the answer it is.
    int maxRedirects = 0;
};

// Settings of the machine rather than of a request; tests put their own here.
struct TransferEnvironment {
    // A PEM file of certificates trusted instead of the system's store.
    QString caBundle;
    // "host:port:address" entries answered before any name lookup.
    QStringList resolve;
};

struct HttpExchangeRequest {
    QUrl url;
    QByteArray method = "GET";
    HttpHeaders headers;
    std::optional<QByteArray> body;
    TransferLimits limits;
    TransferEnvironment environment;
};

struct HttpExchangeResponse {
    int status = 0;
    HttpHeaders headers; // of the last answer, in order
    QByteArray body;     // decoded from its content encoding
    QByteArray header(const QByteArray& name) const;
};

} // namespace varno
