// SPDX-License-Identifier: MIT
#include "store/ServerClient.h"

#include "async/CancellationError.h"
#include "model/Errors.h"
#include "model/OutsideText.h"
#include "model/UrlText.h"
#include "net/NetworkError.h"
#include "store/ServerRecords.h"

#include <QUrl>

namespace varno {

const QString ServerClient::addressMessage =
    QStringLiteral("Use an HTTPS server address, or http://localhost:3000 for development.");
const QString ServerClient::noResponseMessage = QStringLiteral("No response from Varno.");
const QString ServerClient::unreadableMessage =
    QStringLiteral("The server's answer could not be read.");
const QString ServerClient::unavailableMessage =
    QStringLiteral("Varno is unavailable. Check the server address and try again.");

namespace {

// Qt reports an IPv6 literal without its brackets; compare it in the form the
// address is written in.
QString hostAsWritten(const QUrl& url) {
    const QString host = url.host();
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

bool isLoopbackHost(const QString& host) {
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("[::1]");
}

} // namespace

QString ServerClient::baseAddress(const QString& serverURL) {
    const QString base = trimmedServerAddress(serverURL);

    const QUrl url(base, QUrl::StrictMode);
    if (base.isEmpty() || !url.isValid() || !url.userName().isEmpty() ||
        !url.password().isEmpty() || url.host().isEmpty())
        throw AppError(addressMessage);
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("https"))
        return base;
    if (scheme == QLatin1String("http") && isLoopbackHost(hostAsWritten(url)))
        return base;
    throw AppError(addressMessage);
}

QCoro::Task<QByteArray> ServerClient::send(QString path, QByteArray method,
                                           std::optional<QByteArray> body,
                                           std::stop_token token) const {
    // The frame keeps the inputs, so nothing here depends on the client's owner
    // still being around when the answer comes.
    const std::shared_ptr<const Inputs> inputs = inputs_;
    if (token.stop_requested())
        throw CancellationError();

    const QString base = baseAddress(inputs->serverURL());
    const QUrl url(base + QStringLiteral("/api/") + path, QUrl::StrictMode);
    if (!url.isValid())
        throw AppError(addressMessage);

    HttpRequest request;
    request.url = url;
    request.method = method;
    request.body = std::move(body);
    request.headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "application/json"));
    if (const std::optional<SavedSession> session = inputs->session())
        request.headers.append(std::pair<QByteArray, QByteArray>(
            "Authorization", "Bearer " + session->token.toUtf8()));

    const HttpResponse response = co_await inputs->send(std::move(request), token);

    // The caller has gone: drop the answer unread, whatever it says.
    if (token.stop_requested())
        throw CancellationError();
    if (!response.isHttp)
        throw AppError(noResponseMessage);
    if (response.status >= 200 && response.status <= 299)
        co_return response.body;

    if (response.status == 401 && inputs->session().has_value())
        inputs->sessionRejected();

    QString message = unavailableMessage;
    try {
        const Failure failure = co_await decodeAnswer<Failure>(response.body);
        // A blank sentence would show an empty alert.
        if (!failure.error.trimmed().isEmpty())
            message = failure.error;
    } catch (const std::exception&) {
    }
    throw AppError(message);
}

AppError ServerClient::unreadableAnswer(const DecodingError& error) {
    qWarning("The server's answer did not decode: %s",
             qPrintable(boundedText(QString::fromUtf8(error.what()), maxMessageLength)));
    return AppError(unreadableMessage);
}

bool ServerClient::isExpectedCancellation(std::exception_ptr error, std::stop_token token) {
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (const NetworkError& e) {
        return token.stop_requested() && e.isCancelled();
    } catch (...) {
        return false;
    }
}

} // namespace varno
