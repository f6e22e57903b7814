// SPDX-License-Identifier: MIT
#include "net/HttpClient.h"

#include "net/CurlTransfer.h"
#include "net/NetworkError.h"

#include <QCoroFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <exception>
#include <memory>
#include <mutex>
#include <optional>

namespace varno {

namespace {

// Where a redirect points, when going there keeps the request's origin.
std::optional<QUrl> sameOriginTarget(const QUrl& from, const HttpExchangeResponse& answer) {
    const QByteArray location = answer.header("Location");
    if (location.isEmpty())
        return std::nullopt;
    const QUrl target = from.resolved(QUrl::fromEncoded(location, QUrl::StrictMode));
    const int defaultPort = from.scheme() == QLatin1String("https") ? 443 : 80;
    if (!target.isValid() || !target.userInfo().isEmpty() || target.scheme() != from.scheme() ||
        target.host() != from.host() || target.port(defaultPort) != from.port(defaultPort))
        return std::nullopt;
    return target;
}

struct Outcome {
    std::optional<HttpExchangeResponse> response;
    std::exception_ptr error;
};

} // namespace

HttpExchangeResponse HttpClient::fetch(HttpExchangeRequest request, std::stop_token token) {
    const auto deadlineAt = std::chrono::steady_clock::now() + request.limits.deadline;
    for (int redirects = 0;; ++redirects) {
        HttpExchangeResponse response = CurlTransfer::perform(request, deadlineAt, token);
        if (response.status < 300 || response.status > 399 ||
            redirects >= request.limits.maxRedirects)
            return response;
        const std::optional<QUrl> target = sameOriginTarget(request.url, response);
        if (!target)
            return response;
        // As browsers do: a 303, and a 301 or 302 after a POST, go on as a GET.
        if ((response.status == 303 && request.method != "HEAD") ||
            ((response.status == 301 || response.status == 302) && request.method == "POST")) {
            request.method = "GET";
            request.body.reset();
        }
        request.url = *target;
    }
}

QCoro::Task<HttpExchangeResponse> HttpClient::send(HttpExchangeRequest request, Lane lane,
                                                   std::stop_token token) {
    if (token.stop_requested())
        throw NetworkError::cancelled();
    auto source = std::make_shared<std::stop_source>();
    std::stop_callback forward(token, [source] { source->request_stop(); });
    QFuture<Outcome> future =
        QtConcurrent::run(&pool(lane), [request = std::move(request), stop = source->get_token()] {
            Outcome out;
            try {
                out.response = fetch(request, stop);
            } catch (...) {
                out.error = std::current_exception();
            }
            return out;
        });
    Outcome out = co_await future;
    if (out.error)
        std::rethrow_exception(out.error);
    co_return std::move(*out.response);
}

QThreadPool& HttpClient::pool(Lane lane) {
    // Never destroyed: a transfer still running at exit must not hold the exit up.
    static QThreadPool* pools[3] = {};
    static std::once_flag once;
    std::call_once(once, [] {
        const int threads[3] = {4, 4, 2};
        for (int i = 0; i < 3; ++i) {
            pools[i] = new QThreadPool();
            pools[i]->setMaxThreadCount(threads[i]);
            // Kept between syncs: a thread made and retired every minute wakes the app for nothing.
            pools[i]->setExpiryTimeout(-1);
        }
    });
    return *pools[int(lane)];
}

} // namespace varno
