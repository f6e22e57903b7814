// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetryEvent.h"
#include "analytics/client/TelemetryLog.h"
#include "net/HttpExchange.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace varno {

inline constexpr const char* telemetryLibraryName = "varno-telemetry";
inline constexpr const char* telemetryLibraryVersion = "1.0.0";

// The result of one upload.
struct TelemetryUploadInfo {
    std::optional<int> statusCode;    // the HTTP status, when there is one to report
    std::optional<QString> error;     // the transport or serialisation error
    std::optional<double> retryAfter; // seconds, from a usable "Retry-After"
};

using TelemetryHeaders = QList<QPair<QByteArray, QByteArray>>;

// The most an answer of the ingestion host may carry, headers and body together. Its
// answers are a few bytes ({"status":1}), its configuration a few kilobytes; the limit
// only bounds what a broken or hostile host can make the client hold.
inline constexpr qint64 maxTelemetryAnswerBytes = 1024 * 1024;

struct TelemetryHttpRequest {
    QUrl url;
    QByteArray method = "POST";
    TelemetryHeaders headers;
    QByteArray body;
    std::chrono::milliseconds timeout{10000}; // idle time without progress
    // The whole exchange, however busy: a host that trickles its answer must not keep
    // the queue's one upload in flight for ever.
    std::chrono::milliseconds deadline{std::chrono::minutes(1)};
    qint64 maxAnswerBytes = maxTelemetryAnswerBytes; // larger answers fail, unread
    QByteArray header(const QByteArray& name) const;
};

struct TelemetryHttpResponse {
    std::optional<int> statusCode; // absent when no HTTP answer came
    TelemetryHeaders headers;
    QByteArray body;
    std::optional<QString> transportError; // set when the exchange itself failed
    QByteArray header(const QByteArray& name) const;
};

// Sends one request and calls completion exactly once, from any thread. Aborting
// is done by dropping the owning thread; the completion may then never be called.
using TelemetryTransport = std::function<void(
    TelemetryHttpRequest request, std::function<void(TelemetryHttpResponse)> completion)>;

// Real HTTP over the network core, on a worker thread of its own; the completion runs
// there. Redirects are not followed: a 3xx answer is reported as it is, so the queue
// keeps its files. The environment is for tests (their certificate, their names).
TelemetryTransport telemetryNetworkTransport(TransferEnvironment environment = {});

// The headers every request of the client carries: JSON content, the library's
// user agent, then the configuration's own headers, which replace ours by name.
QList<std::pair<QByteArray, QByteArray>> telemetryRequestHeaders(const TelemetryConfig& config,
                                                                 bool acceptGzip);

// gzip (deflate with a gzip wrapper, default level, memory level 9).
std::optional<QByteArray> gzipCompress(const QByteArray& data, QString* error = nullptr);

// A "Retry-After" value: non-negative seconds, or an HTTP date turned into the
// seconds from now to it (at least 0). Nothing for anything else.
std::optional<double> parseRetryAfter(const QString& value, const QDateTime& now);

// The client's HTTP side: batch upload of captured events.
class TelemetryApi {
public:
    using Compressor =
        std::function<std::optional<QByteArray>(const QByteArray& data, QString* error)>;

    struct Options {
        TelemetryTransport transport;   // default: telemetryNetworkTransport()
        std::function<QDateTime()> now; // wall clock for "sent_at" and Retry-After dates
        Compressor compress;            // default: gzipCompress
        TelemetryLogger log;            // default: standard output when config.debug
    };

    explicit TelemetryApi(TelemetryConfig config, Options options = {});

    // Sends the events to the host's /batch and reports the outcome once; never throws.
    void batch(const QList<TelemetryEvent>& events,
               std::function<void(TelemetryUploadInfo)> completion) const;

    // host's own path + "/batch", runs of slashes collapsed, no query.
    static std::optional<QUrl> batchUrl(const QUrl& host);

    const TelemetryConfig& config() const { return config_; }

private:
    static TelemetryUploadInfo processUploadResponse(const QString& endpoint,
                                                     const TelemetryHttpResponse& response,
                                                     const TelemetryLogger& log,
                                                     const std::function<QDateTime()>& now);

    TelemetryConfig config_;
    Options options_;
};

} // namespace varno
