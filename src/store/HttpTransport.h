// SPDX-License-Identifier: MIT
#pragma once

#include "net/HttpExchange.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <utility>

namespace varno {

// The most an answer of the Varno server may carry, headers and body together. A
// dashboard is a few kilobytes and even a circle of tens of thousands of friends stays
// below a few megabytes; the limit only bounds what a broken or hostile server can make
// the app hold in memory.
inline constexpr qint64 maxServerAnswerBytes = 16 * 1024 * 1024;

struct HttpRequest {
    QUrl url;
    QByteArray method;
    QList<std::pair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body;
    // The request fails when no data moves for this long.
    std::chrono::milliseconds idleTimeout{20000};
    // ...and when the whole exchange takes longer than this, however busy it is.
    std::chrono::milliseconds deadline{std::chrono::minutes(2)};
    // An answer larger than this fails at once; nothing more of it is read.
    qint64 maxAnswerBytes = maxServerAnswerBytes;
};

struct HttpResponse {
    // False when the other end answered with something that is not HTTP.
    bool isHttp = true;
    int status = 0;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

// Sends one request and returns the whole answer, whatever its status; throws
// NetworkError when no complete answer came (the stop token aborts the request and
// gives the cancelled code; the idle timeout and the deadline give "The request timed
// out."; an answer over the size limit gives NetworkError::tooLarge).
using SendRequest = std::function<QCoro::Task<HttpResponse>(HttpRequest, std::stop_token)>;

// The transport over the network core: the standard proxy variables and the system's
// CA store apply, and no cookie is kept. Redirects (up to ten) are followed only within
// the request's origin (scheme, host and port), so headers such as the bearer token
// never reach another server; any other redirect comes back as the 3xx answer it is.
// A transfer that breaks off part way is a NetworkError, even after the status line.
// The environment is for tests (their certificate, their names).
SendRequest networkTransport(TransferEnvironment environment = {});

} // namespace varno
