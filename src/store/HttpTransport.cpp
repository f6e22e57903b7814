#include "store/HttpTransport.h"

#include "store/NetworkError.h"
#include "store/ScopeExit.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <coroutine>
#include <memory>

namespace varno {

namespace {

// Resumes once the reply has finished, or has been destroyed with its manager.
class ReplyFinished {
public:
    explicit ReplyFinished(QNetworkReply* reply) : reply_(reply) {}

    bool await_ready() const { return !reply_ || reply_->isFinished(); }

    void await_suspend(std::coroutine_handle<> waiter) {
        auto pending = std::make_shared<std::coroutine_handle<>>(waiter);
        auto connections =
            std::make_shared<std::pair<QMetaObject::Connection, QMetaObject::Connection>>();
        // Resume from the event loop, never from inside the reply's own signal.
        auto resume = [pending, connections] {
            QObject::disconnect(connections->first);
            QObject::disconnect(connections->second);
            if (!*pending)
                return;
            std::coroutine_handle<> handle = std::exchange(*pending, {});
            QTimer::singleShot(0, [handle] { handle.resume(); });
        };
        connections->first = QObject::connect(reply_, &QNetworkReply::finished, resume);
        connections->second = QObject::connect(reply_, &QObject::destroyed, resume);
    }

    void await_resume() const {}

private:
    QPointer<QNetworkReply> reply_;
};

// Errors with which Qt reports an answer that was not HTTP at all: the other end
// sent bytes Qt could not read as a response, or closed without any.
bool isNonHttpAnswer(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::NoError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProtocolFailure:
        return true;
    default:
        return false;
    }
}

QCoro::Task<HttpResponse> sendOverNetwork(QPointer<QNetworkAccessManager> manager,
                                          HttpRequest request, std::stop_token token) {
    if (token.stop_requested())
        throw NetworkError::cancelled();
    if (!manager)
        throw NetworkError(QNetworkReply::UnknownNetworkError,
                           QStringLiteral("The network is not available."));

    QNetworkRequest networkRequest(request.url);
    networkRequest.setTransferTimeout(int(request.idleTimeout.count()));
    for (const auto& [name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    // A body-less POST would go out without a length, and servers then wait for
    // the body until they give up: say it is empty.
    const bool sendsBody = request.body || (request.method != "GET" && request.method != "HEAD");
    QPointer<QNetworkReply> reply =
        sendsBody ? manager->sendCustomRequest(networkRequest, request.method,
                                               request.body.value_or(QByteArray()))
                  : manager->sendCustomRequest(networkRequest, request.method);
    // The manager owns its replies; delete ours unless it went first.
    const ScopeExit cleanup([reply] {
        if (reply)
            reply->deleteLater();
    });

    {
        // request_stop may come from any thread: abort on the reply's own thread.
        std::stop_callback abortOnStop(token, [reply] {
            if (QNetworkReply* target = reply.data())
                QMetaObject::invokeMethod(target, &QNetworkReply::abort, Qt::QueuedConnection);
        });
        co_await ReplyFinished(reply.data());
    }
    if (!reply)
        throw NetworkError(QNetworkReply::OperationCanceledError,
                           QStringLiteral("The request was cancelled."));

    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        // Qt ends a transfer timeout with the same code as abort(): only a stop we
        // asked for is a cancellation.
        if (token.stop_requested())
            throw NetworkError(QNetworkReply::OperationCanceledError, reply->errorString());
        throw NetworkError::timedOut();
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        HttpResponse response;
        response.status = status.toInt();
        response.body = reply->readAll();
        for (const auto& header : reply->rawHeaderPairs())
            response.headers.append(std::pair(header.first, header.second));
        co_return response;
    }
    if (isNonHttpAnswer(error))
        co_return HttpResponse{false, 0, {}, {}};
    throw NetworkError(error, reply->errorString());
}

} // namespace

SendRequest networkTransport(QNetworkAccessManager* manager) {
    return [manager = QPointer<QNetworkAccessManager>(manager)](HttpRequest request,
                                                                std::stop_token token) {
        return sendOverNetwork(manager, std::move(request), std::move(token));
    };
}

} // namespace varno
