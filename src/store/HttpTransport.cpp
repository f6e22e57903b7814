// SPDX-License-Identifier: MIT
#include "store/HttpTransport.h"

#include "model/OutsideText.h"
#include "net/HttpClient.h"
#include "net/NetworkError.h"

namespace varno {

namespace {

QCoro::Task<HttpResponse> sendOverNetwork(HttpRequest request, TransferEnvironment environment,
                                          std::stop_token token) {
    HttpExchangeRequest exchange;
    exchange.url = request.url;
    exchange.method = request.method;
    exchange.headers = request.headers;
    exchange.body = std::move(request.body);
    exchange.limits.maxAnswerBytes = request.maxAnswerBytes;
    exchange.limits.stallTimeout = request.idleTimeout;
    exchange.limits.deadline = request.deadline;
    exchange.limits.maxRedirects = 10;
    exchange.environment = std::move(environment);
    try {
        HttpExchangeResponse answer =
            co_await HttpClient::send(std::move(exchange), HttpClient::Lane::server, token);
        co_return HttpResponse{true, answer.status, std::move(answer.body),
                               std::move(answer.headers)};
    } catch (const NetworkError& error) {
        if (!error.detail().isEmpty())
            qWarning("%s: %s", qPrintable(request.url.host()),
                     qPrintable(boundedText(error.detail(), maxMessageLength)));
        if (error.kind() != NetworkError::Kind::notHttp)
            throw;
    }
    co_return HttpResponse{false, 0, {}, {}};
}

} // namespace

SendRequest networkTransport(TransferEnvironment environment) {
    return [environment = std::move(environment)](HttpRequest request, std::stop_token token) {
        return sendOverNetwork(std::move(request), environment, std::move(token));
    };
}

} // namespace varno
