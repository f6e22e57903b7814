#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <utility>

class QNetworkAccessManager;

namespace varno {

struct HttpRequest {
    QUrl url;
    QByteArray method;
    QList<std::pair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body;
    // The request fails when no data moves for this long.
    std::chrono::milliseconds idleTimeout{20000};
};

struct HttpResponse {
    // False when the other end answered with something that is not HTTP.
    bool isHttp = true;
    int status = 0;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

// Sends one request and returns the answer, whatever its status; throws
// NetworkError when no answer came (the stop token aborts the request and gives
// the cancelled code; the idle timeout gives "The request timed out.").
using SendRequest = std::function<QCoro::Task<HttpResponse>(HttpRequest, std::stop_token)>;

// The transport over Qt's network stack: the system's proxy settings and TLS
// checks apply, redirects are followed. The manager must live on the calling
// thread; requests made after it is gone fail with a NetworkError.
SendRequest networkTransport(QNetworkAccessManager* manager);

} // namespace varno
