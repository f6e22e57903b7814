// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryApi.h"

#include "net/HttpClient.h"
#include "net/NetworkError.h"
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QRegularExpression>
#include <QThreadPool>
#include <QTimeZone>

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

} // namespace

QByteArray TelemetryHttpRequest::header(const QByteArray& name) const {
    return findHeader(headers, name);
}

QByteArray TelemetryHttpResponse::header(const QByteArray& name) const {
    return findHeader(headers, name);
}

TelemetryTransport telemetryNetworkTransport(TransferEnvironment environment) {
    return
        [environment = std::move(environment)](
            TelemetryHttpRequest request, std::function<void(TelemetryHttpResponse)> completion) {
            HttpExchangeRequest exchange;
            exchange.url = request.url;
            exchange.method = request.method;
            exchange.headers = HttpHeaders(request.headers.cbegin(), request.headers.cend());
            exchange.body = request.body;
            exchange.limits.maxAnswerBytes = request.maxAnswerBytes;
            exchange.limits.stallTimeout = request.timeout;
            exchange.limits.deadline = request.deadline;
            // A followed 301/302/303 would turn the upload into a body-less GET whose answer
            // then reads as "sent"; a 307/308 would post the events elsewhere.
            exchange.limits.maxRedirects = 0;
            exchange.environment = environment;
            HttpClient::pool(HttpClient::Lane::analytics)
                .start([exchange = std::move(exchange), completion = std::move(completion)] {
                    TelemetryHttpResponse response;
                    try {
                        HttpExchangeResponse answer = HttpClient::fetch(exchange);
                        response.statusCode = answer.status;
                        response.headers =
                            TelemetryHeaders(answer.headers.cbegin(), answer.headers.cend());
                        response.body = std::move(answer.body);
                    } catch (const NetworkError& error) {
                        if (error.status() > 0)
                            response.statusCode = error.status();
                        response.transportError = error.text();
                    } catch (const std::exception& error) {
                        response.transportError = QString::fromUtf8(error.what());
                    }
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
