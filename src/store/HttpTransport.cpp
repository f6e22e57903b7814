#include "store/HttpTransport.h"

#include "store/NetworkError.h"
#include "store/ScopeExit.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <coroutine>
#include <memory>
#include <optional>

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

// Whether a reply with this status is a whole answer. Qt also reports an error for a
// complete 4xx or 5xx answer (404 as ContentNotFoundError and so on); any other error
// means the transfer broke off, and what arrived before it is not the answer.
bool isCompleteAnswer(QNetworkReply::NetworkError error, int status) {
    if (error == QNetworkReply::NoError)
        return true;
    const int code = int(error);
    return status >= 400 && ((code >= QNetworkReply::ContentAccessDenied &&
                              code <= QNetworkReply::UnknownContentError) ||
                             error == QNetworkReply::ProtocolInvalidOperationError ||
                             (code >= QNetworkReply::InternalServerError &&
                              code <= QNetworkReply::UnknownServerError));
}

// What the transport saw of a reply while it ran: the body so far, and whether it
// stopped the reply for being too large.
struct Transfer {
    QByteArray body;
    qint64 headerBytes = 0;
    bool tooLarge = false;
    // Body bytes as Qt counts them, and the length the answer announced (-1: none).
    qint64 received = 0;
    qint64 announced = -1;
    QList<QMetaObject::Connection> connections;

    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    // The reply may outlive this frame by a turn of the event loop.
    ~Transfer() {
        for (const QMetaObject::Connection& connection : std::as_const(connections))
            QObject::disconnect(connection);
    }

    qint64 size() const { return headerBytes + body.size(); }
    // Qt 6.4 ends a reply without an error when the connection closes after part of a
    // body whose length was announced; only the count tells that it was cut.
    bool endedEarly() const { return announced > 0 && received < announced; }
    // Takes what the reply holds, up to one byte over the limit.
    void readFrom(QNetworkReply* reply, qint64 limit) {
        body += reply->read(std::min(reply->bytesAvailable(), limit - size() + 1));
    }
};

// Reads the body as it arrives, so that its size is known at every moment, and stops
// the reply once the answer goes over the limit or the deadline passes.
void watchTransfer(QNetworkReply* reply, qint64 limit, Transfer& transfer, QTimer& deadline,
                   std::chrono::milliseconds timeLeft) {
    const auto stop = [reply, &transfer] {
        transfer.tooLarge = true;
        reply->abort();
    };
    transfer.connections << QObject::connect(
        reply, &QNetworkReply::metaDataChanged, reply, [reply, &transfer, limit, stop] {
            transfer.headerBytes = 0;
            for (const auto& [name, value] : reply->rawHeaderPairs())
                transfer.headerBytes += name.size() + value.size() + 4;
            const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
            if (transfer.size() > limit ||
                (announced.isValid() && announced.toLongLong() > limit - transfer.headerBytes))
                stop();
            else if (announced.isValid()) // one allocation instead of a copy per doubling
                transfer.body.reserve(announced.toLongLong());
        });
    transfer.connections << QObject::connect(reply, &QNetworkReply::readyRead, reply,
                                             [reply, &transfer, limit, stop] {
                                                 if (transfer.tooLarge)
                                                     return;
                                                 transfer.readFrom(reply, limit);
                                                 if (transfer.size() > limit)
                                                     stop();
                                             });
    transfer.connections << QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                                             [&transfer](qint64 received, qint64 total) {
                                                 transfer.received = received;
                                                 transfer.announced = total;
                                             });
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, [reply] { reply->abort(); });
    deadline.start(timeLeft);
}

constexpr qint64 readAheadBytes = 1024 * 1024;

// One request and its answer, redirects not followed.
QCoro::Task<HttpResponse> exchange(QPointer<QNetworkAccessManager> manager, HttpRequest request,
                                   std::chrono::steady_clock::time_point deadlineAt,
                                   std::stop_token token) {
    if (token.stop_requested())
        throw NetworkError::cancelled();
    if (!manager)
        throw NetworkError(QNetworkReply::UnknownNetworkError,
                           QStringLiteral("The network is not available."));

    QNetworkRequest networkRequest(request.url);
    networkRequest.setTransferTimeout(int(request.idleTimeout.count()));
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::ManualRedirectPolicy);
    for (const auto& [name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    // A body-less POST would go out without a length, and servers then wait for
    // the body until they give up: say it is empty.
    const bool sendsBody = request.body || (request.method != "GET" && request.method != "HEAD");
    QPointer<QNetworkReply> reply =
        sendsBody ? manager->sendCustomRequest(networkRequest, request.method,
                                               request.body.value_or(QByteArray()))
                  : manager->sendCustomRequest(networkRequest, request.method);
    // Qt's network thread reads no further ahead of us than this. Without a bound it
    // goes on draining a stream after abort(), and the manager's other requests wait.
    reply->setReadBufferSize(readAheadBytes);
    // The manager owns its replies; delete ours unless it went first.
    const ScopeExit cleanup([reply] {
        if (reply)
            reply->deleteLater();
    });

    Transfer transfer;
    QTimer deadline;
    watchTransfer(
        reply.data(), request.maxAnswerBytes, transfer, deadline,
        std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(
                                                   deadlineAt - std::chrono::steady_clock::now())));
    {
        // request_stop may come from any thread: abort on the reply's own thread.
        std::stop_callback abortOnStop(token, [reply] {
            if (QNetworkReply* target = reply.data())
                QMetaObject::invokeMethod(target, &QNetworkReply::abort, Qt::QueuedConnection);
        });
        co_await ReplyFinished(reply.data());
    }
    deadline.stop();
    if (!reply)
        throw NetworkError(QNetworkReply::OperationCanceledError,
                           QStringLiteral("The request was cancelled."));

    const QNetworkReply::NetworkError error = reply->error();
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        // Qt ends a transfer timeout with the same code as abort(): only a stop we
        // asked for is a cancellation; the deadline is a timeout too.
        if (token.stop_requested())
            throw NetworkError(QNetworkReply::OperationCanceledError, reply->errorString());
        if (transfer.tooLarge)
            throw NetworkError::tooLarge(request.maxAnswerBytes);
        throw NetworkError::timedOut();
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        if (!isCompleteAnswer(error, status.toInt()))
            throw NetworkError(error, reply->errorString());
        if (transfer.endedEarly() && request.method != "HEAD")
            throw NetworkError::cutShort();
        HttpResponse response;
        response.status = status.toInt();
        transfer.readFrom(reply, request.maxAnswerBytes);
        if (transfer.size() > request.maxAnswerBytes)
            throw NetworkError::tooLarge(request.maxAnswerBytes);
        response.body = std::move(transfer.body);
        for (const auto& header : reply->rawHeaderPairs())
            response.headers.append(std::pair(header.first, header.second));
        co_return response;
    }
    if (isNonHttpAnswer(error))
        co_return HttpResponse{false, 0, {}, {}};
    throw NetworkError(error, reply->errorString());
}

// Where a redirect points, when going there keeps the request's origin: the same
// scheme, host and port, and no user name or password.
std::optional<QUrl> sameOriginTarget(const QUrl& from, const HttpResponse& answer) {
    QByteArray location;
    for (const auto& [name, value] : answer.headers)
        if (name.compare("Location", Qt::CaseInsensitive) == 0)
            location = value;
    if (location.isEmpty())
        return std::nullopt;
    const QUrl target = from.resolved(QUrl::fromEncoded(location, QUrl::StrictMode));
    const int defaultPort = from.scheme() == QLatin1String("https") ? 443 : 80;
    if (!target.isValid() || !target.userInfo().isEmpty() || target.scheme() != from.scheme() ||
        target.host() != from.host() || target.port(defaultPort) != from.port(defaultPort))
        return std::nullopt;
    return target;
}

// Redirects are followed here rather than by Qt: Qt 6.4 sometimes fails a POST that it
// re-sent after a redirect with a spurious error, and this way a redirect to another
// origin comes back as the answer it is, body included.
constexpr int maxRedirects = 10;

QCoro::Task<HttpResponse> sendOverNetwork(QPointer<QNetworkAccessManager> manager,
                                          HttpRequest request, std::stop_token token) {
    const auto deadlineAt = std::chrono::steady_clock::now() + request.deadline;
    for (int redirects = 0;; ++redirects) {
        HttpResponse response = co_await exchange(manager, request, deadlineAt, token);
        if (!response.isHttp || response.status < 300 || response.status > 399 ||
            redirects == maxRedirects)
            co_return response;
        const std::optional<QUrl> target = sameOriginTarget(request.url, response);
        if (!target)
            co_return response;
        // As browsers do: a 303, and a 301 or 302 after a POST, go on as a GET.
        const bool toGet =
            (response.status == 303 && request.method != "HEAD") ||
            ((response.status == 301 || response.status == 302) && request.method == "POST");
        if (toGet) {
            request.method = "GET";
            request.body.reset();
        }
        request.url = *target;
    }
}

} // namespace

SendRequest networkTransport(QNetworkAccessManager* manager) {
    return [manager = QPointer<QNetworkAccessManager>(manager)](HttpRequest request,
                                                                std::stop_token token) {
        return sendOverNetwork(manager, std::move(request), std::move(token));
    };
}

} // namespace varno
