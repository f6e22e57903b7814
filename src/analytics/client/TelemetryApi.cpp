#include "analytics/client/TelemetryApi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThreadStorage>
#include <QTimeZone>
#include <QTimer>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace varno {

namespace {

QByteArray findHeader(const TelemetryHeaders& headers, const QByteArray& name) {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

// Without a status every error is the exchange's own. With one, codes below 200
// (connection, timeout, proxy) still are; the others only mirror the HTTP status,
// e.g. 400 arrives as ProtocolInvalidOperationError.
bool isTransportFailure(QNetworkReply::NetworkError error, bool hasStatus) {
    const int code = static_cast<int>(error);
    return code != 0 && (!hasStatus || code < 200);
}

// Reads an answer as it arrives, so that one over the size limit is stopped right
// there, unread; also stops it for any other reason (the deadline).
struct AnswerTransfer {
    AnswerTransfer(QNetworkReply* r, qint64 l) : reply(r), limit(l) {}

    QNetworkReply* reply;
    qint64 limit;
    QByteArray body;
    qint64 headerBytes = 0;
    std::optional<QString> stoppedBecause;
    // Body bytes as Qt counts them, and the length the answer announced (-1: none).
    qint64 received = 0;
    qint64 announced = -1;

    // Qt 6.4 ends a reply without an error when the connection closes after part of a
    // body whose length was announced; only the count tells that it was cut.
    bool endedEarly() const { return announced > 0 && received < announced; }

    void stop(const QString& reason) {
        if (stoppedBecause)
            return;
        stoppedBecause = reason;
        reply->abort();
    }
    void stopTooLarge() {
        const bool megabytes = limit >= 1024 * 1024;
        stop(QStringLiteral("The server's answer is larger than %1 %2.")
                 .arg(megabytes ? limit / (1024 * 1024) : limit / 1024)
                 .arg(megabytes ? QStringLiteral("MB") : QStringLiteral("KB")));
    }
    void headersArrived() {
        headerBytes = 0;
        for (const auto& [name, value] : reply->rawHeaderPairs())
            headerBytes += name.size() + value.size() + 4;
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (headerBytes > limit || (length.isValid() && length.toLongLong() > limit - headerBytes))
            stopTooLarge();
    }
    void take() {
        if (stoppedBecause)
            return;
        const qint64 room = limit - headerBytes - body.size();
        body += reply->read(std::min(reply->bytesAvailable(), room + 1));
        if (headerBytes + body.size() > limit)
            stopTooLarge();
    }
};

} // namespace

QByteArray TelemetryHttpRequest::header(const QByteArray& name) const {
    return findHeader(headers, name);
}

QByteArray TelemetryHttpResponse::header(const QByteArray& name) const {
    return findHeader(headers, name);
}

TelemetryTransport telemetryNetworkTransport() {
    return [](TelemetryHttpRequest request, std::function<void(TelemetryHttpResponse)> completion) {
        // One manager per thread keeps connections alive between batches; Qt deletes
        // it when the thread ends.
        static QThreadStorage<QNetworkAccessManager*> managers;
        if (!managers.hasLocalData())
            managers.setLocalData(new QNetworkAccessManager);
        QNetworkAccessManager* manager = managers.localData();

        QNetworkRequest networkRequest(request.url);
        for (const auto& [name, value] : request.headers)
            networkRequest.setRawHeader(name, value);
        networkRequest.setTransferTimeout(static_cast<int>(request.timeout.count()));
        networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                                    QNetworkRequest::AlwaysNetwork);
        networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        // A followed 301/302/303 would turn the upload into a body-less GET whose
        // answer then reads as "sent"; a 307/308 would post the events elsewhere.
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                    QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply =
            manager->sendCustomRequest(networkRequest, request.method, request.body);
        // Qt's network thread reads no further ahead of us than this; without a bound it
        // goes on draining a stream after abort(), holding up the manager's other requests.
        reply->setReadBufferSize(256 * 1024);

        auto transfer = std::make_shared<AnswerTransfer>(reply, request.maxAnswerBytes);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, reply,
                         [transfer] { transfer->headersArrived(); });
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [transfer] { transfer->take(); });
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                         [transfer](qint64 received, qint64 total) {
                             transfer->received = received;
                             transfer->announced = total;
                         });
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        QObject::connect(deadline, &QTimer::timeout, reply,
                         [transfer] { transfer->stop(QStringLiteral("The request timed out.")); });
        deadline->start(request.deadline);

        QObject::connect(reply, &QNetworkReply::finished, reply,
                         [reply, transfer, completion = std::move(completion)] {
                             transfer->take();
                             TelemetryHttpResponse response;
                             const QVariant status =
                                 reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                             if (status.isValid())
                                 response.statusCode = status.toInt();
                             for (const auto& header : reply->rawHeaderPairs())
                                 response.headers.append(header);
                             response.body = std::move(transfer->body);
                             if (transfer->stoppedBecause)
                                 response.transportError = transfer->stoppedBecause;
                             else if (isTransportFailure(reply->error(), status.isValid()))
                                 response.transportError = reply->errorString();
                             else if (transfer->endedEarly())
                                 response.transportError = QStringLiteral("Connection closed");
                             reply->deleteLater();
                             completion(std::move(response));
                         });
    };
}

QList<std::pair<QByteArray, QByteArray>> telemetryRequestHeaders(const TelemetryConfig& config,
                                                                 bool acceptGzip) {
    QList<std::pair<QByteArray, QByteArray>> headers = {
        {"Content-Type", "application/json; charset=utf-8"},
        {"User-Agent", QByteArray(telemetryLibraryName) + '/' + telemetryLibraryVersion},
    };
    if (acceptGzip)
        headers.append(std::pair<QByteArray, QByteArray>("Accept-Encoding", "gzip"));
    if (config.requestHeaders) {
        for (auto it = config.requestHeaders->cbegin(); it != config.requestHeaders->cend(); ++it) {
            const QByteArray name = it.key().toUtf8();
            headers.removeIf(
                [&](const auto& h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
            headers.append({name, it.value().toUtf8()});
        }
    }
    return headers;
}

std::optional<QByteArray> gzipCompress(const QByteArray& data, QString* error) {
    z_stream stream{};
    int result =
        deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    if (result != Z_OK) {
        if (error)
            *error = QStringLiteral("deflateInit2 failed (%1)").arg(result);
        return std::nullopt;
    }
    QByteArray out;
    out.resize(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    result = deflate(&stream, Z_FINISH);
    const auto written = static_cast<qsizetype>(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        if (error)
            *error = QStringLiteral("deflate failed (%1)").arg(result);
        return std::nullopt;
    }
    out.resize(written);
    return out;
}

std::optional<double> parseRetryAfter(const QString& raw, const QDateTime& now) {
    const QString value = raw.trimmed();
    if (value.isEmpty())
        return std::nullopt;
    bool isNumber = false;
    const double seconds = value.toDouble(&isNumber);
    if (isNumber)
        return seconds >= 0 && std::isfinite(seconds) ? std::optional(seconds) : std::nullopt;

    // "EEE, dd MMM yyyy HH:mm:ss z", e.g. "Wed, 21 Oct 2015 07:28:00 GMT".
    static const QRegularExpression httpDate(QStringLiteral(
        R"(^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), (\d{1,2}) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
        R"((\d{4}) (\d{2}):(\d{2}):(\d{2}) (GMT|UTC|UT|Z|[+-]\d{4})$)"));
    const QRegularExpressionMatch match = httpDate.match(value);
    if (!match.hasMatch())
        return std::nullopt;
    static const QStringList months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date(match.captured(4).toInt(),
                     static_cast<int>(months.indexOf(match.captured(3))) + 1,
                     match.captured(2).toInt());
    const QTime time(match.captured(5).toInt(), match.captured(6).toInt(),
                     match.captured(7).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    const QString zone = match.captured(8);
    if (zone.startsWith(u'+') || zone.startsWith(u'-')) {
        offsetSeconds = (zone.mid(1, 2).toInt() * 3600 + zone.mid(3, 2).toInt() * 60) *
                        (zone.startsWith(u'-') ? -1 : 1);
    }
    const QDateTime when(date, time, QTimeZone(offsetSeconds));
    const double delta = static_cast<double>(now.msecsTo(when)) / 1000.0;
    return std::max(0.0, delta);
}

TelemetryApi::TelemetryApi(TelemetryConfig config, Options options)
    : config_(std::move(config)), options_(std::move(options)) {
    if (!options_.transport)
        options_.transport = telemetryNetworkTransport();
    if (!options_.now)
        options_.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!options_.compress)
        options_.compress = [](const QByteArray& data, QString* error) {
            return gzipCompress(data, error);
        };
    if (!options_.log)
        options_.log = telemetryStdoutLogger(config_.debug);
}

std::optional<QUrl> TelemetryApi::batchUrl(const QUrl& host) {
    if (!host.isValid() || host.scheme().isEmpty() || host.host().isEmpty())
        return std::nullopt;
    QUrl url = host;
    static const QRegularExpression slashes(QStringLiteral("/{2,}"));
    QString path = host.path() + QStringLiteral("/") + QStringLiteral("/batch");
    url.setPath(path.replace(slashes, QStringLiteral("/")));
    url.setQuery(QString());
    url.setFragment(QString());
    if (!url.isValid())
        return std::nullopt;
    return url;
}

void TelemetryApi::batch(const QList<TelemetryEvent>& events,
                         std::function<void(TelemetryUploadInfo)> completion) const {
    const std::optional<QUrl> url = batchUrl(config_.host);
    if (!url) {
        telemetryLog(options_.log, QStringLiteral("[Telemetry] Malformed batch URL error."));
        completion({});
        return;
    }

    QJsonArray batch;
    for (const TelemetryEvent& event : events)
        batch.append(event.toJSON());
    const QJsonObject body{
        {QStringLiteral("api_key"), config_.projectToken},
        {QStringLiteral("batch"), batch},
        {QStringLiteral("sent_at"), formatTelemetryTimestamp(options_.now())},
    };
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);

    TelemetryHttpRequest request;
    request.url = *url;
    request.method = "POST";
    request.timeout = std::chrono::seconds(10);
    request.headers = telemetryRequestHeaders(config_, true);
    QString compressionError;
    if (std::optional<QByteArray> compressed = options_.compress(json, &compressionError)) {
        request.headers.append({QByteArray("Content-Encoding"), QByteArray("gzip")});
        request.body = std::move(*compressed);
    } else {
        telemetryLog(options_.log,
                     QStringLiteral("Error gzipping the batch body, sending it uncompressed: ") +
                         compressionError);
        request.body = json;
    }

    options_.transport(
        std::move(request), [log = options_.log, now = options_.now,
                             completion = std::move(completion)](TelemetryHttpResponse response) {
            completion(processUploadResponse(QStringLiteral("batch"), response, log, now));
        });
}

TelemetryUploadInfo TelemetryApi::processUploadResponse(const QString& endpoint,
                                                        const TelemetryHttpResponse& response,
                                                        const TelemetryLogger& log,
                                                        const std::function<QDateTime()>& now) {
    TelemetryUploadInfo info;
    if (response.statusCode)
        info.retryAfter =
            parseRetryAfter(QString::fromLatin1(response.header("Retry-After")), now());
    if (!response.transportError) {
        if (!response.statusCode) {
            telemetryLog(log, endpoint + QStringLiteral(" API returned no HTTP response"));
            info.retryAfter.reset();
            return info;
        }
        const int status = *response.statusCode;
        info.statusCode = status;
        if (status >= 200 && status <= 299) {
            telemetryLog(log, endpoint + QStringLiteral(" sent successfully."));
        } else {
            QJsonParseError parseError{};
            const QJsonDocument parsed = QJsonDocument::fromJson(response.body, &parseError);
            const QString text = parseError.error == QJsonParseError::NoError
                                     ? QString::fromUtf8(parsed.toJson(QJsonDocument::Compact))
                                     : QStringLiteral("nil");
            telemetryLog(log, QStringLiteral("Error sending to %1 API: status: %2, body: %3.")
                                  .arg(endpoint)
                                  .arg(status)
                                  .arg(text));
        }
        return info;
    }
    telemetryLog(
        log,
        QStringLiteral("Error calling the %1 API: %2.").arg(endpoint, *response.transportError));
    info.error = response.transportError;
    if (response.statusCode && (*response.statusCode < 300 || *response.statusCode >= 400))
        info.statusCode = response.statusCode;
    return info;
}

} // namespace varno
