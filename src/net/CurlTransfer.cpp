// SPDX-License-Identifier: MIT
#include "net/CurlTransfer.h"

#include "net/NetworkError.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace varno {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one wait for the socket lasts at most, so that a stop or the deadline is
// seen within it even when a stop_callback could not wake the wait.
constexpr milliseconds pollSlice{100};

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using List = std::unique_ptr<curl_slist, ListDeleter>;

void append(List& list, const QByteArray& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.constData());
    if (!grown)
        throw std::bad_alloc();
    (void)list.release();
    list.reset(grown);
}

bool isLoopbackHost(const QString& host) {
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1");
}

// What the callbacks see of one answer while it arrives.
struct Receiver {
    qint64 limit = 0;
    qint64 count = 0; // header and decoded body bytes so far
    bool overLimit = false;
    bool headRequest = false;
    std::optional<qint64> announcedLength;
    bool encoded = false;
    int status = 0;
    HttpExchangeResponse response;
    std::stop_token token;

    bool take(size_t bytes) {
        count += qint64(bytes);
        overLimit = overLimit || count > limit;
        return !overLimit;
    }
};

size_t onHeader(char* data, size_t size, size_t items, void* user) {
    auto* r = static_cast<Receiver*>(user);
    const size_t bytes = size * items;
    if (!r->take(bytes))
        return 0;
    const QByteArray line = QByteArray(data, qsizetype(bytes)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new head: an interim 1xx answer is forgotten once the real one starts.
        r->response.headers.clear();
        r->announcedLength.reset();
        r->encoded = false;
        const QList<QByteArray> parts = line.split(' ');
        r->status = parts.size() > 1 ? parts[1].toInt() : 0;
        return bytes;
    }
    if (line.isEmpty()) {
        // A length over what is left fails now rather than after reading up to it.
        if (!r->headRequest && !r->encoded && r->status >= 200 && r->announcedLength &&
            *r->announcedLength > r->limit - r->count) {
            r->overLimit = true;
            return 0;
        }
        if (r->announcedLength && !r->encoded)
            r->response.body.reserve(qsizetype(*r->announcedLength));
        return bytes;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return bytes;
    const QByteArray name = line.left(colon).trimmed();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
        bool ok = false;
        const qint64 length = value.toLongLong(&ok);
        if (ok && length >= 0)
            r->announcedLength = length;
    } else if (name.compare("Content-Encoding", Qt::CaseInsensitive) == 0) {
        r->encoded = value.compare("identity", Qt::CaseInsensitive) != 0;
    }
    r->response.headers.append({name, value});
    return bytes;
}

size_t onBody(char* data, size_t size, size_t items, void* user) {
    auto* r = static_cast<Receiver*>(user);
    const size_t bytes = size * items;
    if (!r->take(bytes))
        return 0;
    r->response.body.append(data, qsizetype(bytes));
    return bytes;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Receiver*>(user)->token.stop_requested() ? 1 : 0;
}

// As the address is written: an IPv6 literal in brackets.
QString hostOf(const QUrl& url) {
    const QString host = url.host(QUrl::FullyDecoded);
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

// The sentence the user reads for a failed transfer; curl's own words go to detail.
NetworkError describe(CURLcode code, const QUrl& url, const QString& detail) {
    const QString host = hostOf(url);
    const auto error = [&](NetworkError::Kind kind, const QString& text) {
        return NetworkError(kind, text, detail);
    };
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return NetworkError(NetworkError::Kind::timedOut, QStringLiteral("The request timed out."),
                            detail);
    case CURLE_PARTIAL_FILE:
        return NetworkError(NetworkError::Kind::cutShort, QStringLiteral("Connection closed"),
                            detail);
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return error(NetworkError::Kind::notHttp,
                     QStringLiteral("The server at %1 did not answer with HTTP.").arg(host));
    case CURLE_BAD_CONTENT_ENCODING:
        return NetworkError::unreadable(detail);
    case CURLE_COULDNT_RESOLVE_HOST:
        return error(NetworkError::Kind::cannotResolve,
                     QStringLiteral("Could not find the server %1.").arg(host));
    case CURLE_COULDNT_CONNECT:
        return error(NetworkError::Kind::cannotConnect,
                     QStringLiteral("Could not connect to the server at %1.").arg(host));
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
        return error(NetworkError::Kind::proxy,
                     QStringLiteral("Could not connect to the proxy server."));
    case CURLE_PEER_FAILED_VERIFICATION:
        return error(
            NetworkError::Kind::certificate,
            QStringLiteral("The certificate of the server at %1 is not trusted.").arg(host));
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_USE_SSL_FAILED:
        return error(
            NetworkError::Kind::tls,
            QStringLiteral("A secure connection to the server at %1 could not be made.").arg(host));
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return error(NetworkError::Kind::cutShort,
                     QStringLiteral("The connection to the server at %1 was lost.").arg(host));
    default:
        return error(NetworkError::Kind::other,
                     QStringLiteral("The request to the server at %1 failed.").arg(host));
    }
}

} // namespace

QByteArray HttpExchangeResponse::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

HttpExchangeResponse CurlTransfer::perform(const HttpExchangeRequest& request,
                                           Clock::time_point deadlineAt, std::stop_token token) {
    if (token.stop_requested())
        throw NetworkError::cancelled();
    const QString scheme = request.url.scheme();
    if (!request.url.isValid() || request.url.host().isEmpty() ||
        (scheme != QLatin1String("https") &&
         !(scheme == QLatin1String("http") && isLoopbackHost(request.url.host()))))
        throw NetworkError(NetworkError::Kind::insecure,
                           QStringLiteral("Only secure (https) addresses can be reached."));
    initialiseCurlOnce();

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        throw std::bad_alloc();
    CURL* e = easy.get();

    Receiver receiver;
    receiver.limit = request.limits.maxAnswerBytes;
    receiver.headRequest = request.method == "HEAD";
    receiver.token = token;
    char errorText[CURL_ERROR_SIZE] = {};

    const QByteArray url = request.url.toEncoded();
    curl_easy_setopt(e, CURLOPT_URL, url.constData());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    // Every encoding curl can decode; what it decodes is what the callbacks count.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &receiver);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &receiver);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &receiver);

    const auto left = std::chrono::ceil<milliseconds>(deadlineAt - Clock::now());
    if (left <= milliseconds(0))
        throw NetworkError::timedOut();
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, long(left.count()));
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     long(std::min(left, request.limits.stallTimeout).count()));
    // curl counts stalls in whole seconds.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(
        e, CURLOPT_LOW_SPEED_TIME,
        long(std::max<qint64>(
            1, std::chrono::ceil<std::chrono::seconds>(request.limits.stallTimeout).count())));

    const QByteArray caBundle = request.environment.caBundle.toLocal8Bit();
    if (!caBundle.isEmpty())
        curl_easy_setopt(e, CURLOPT_CAINFO, caBundle.constData());
    List resolve;
    for (const QString& entry : request.environment.resolve)
        append(resolve, entry.toUtf8());
    if (resolve)
        curl_easy_setopt(e, CURLOPT_RESOLVE, resolve.get());

    List headers;
    for (const auto& [name, value] : request.headers)
        append(headers, name + ": " + value);
    // A large upload would otherwise wait a second for a "100 Continue".
    append(headers, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());

    // A body-less POST still says it is empty, so servers do not wait for one.
    const bool sendsBody = request.body || (request.method != "GET" && request.method != "HEAD");
    const QByteArray body = request.body.value_or(QByteArray());
    if (request.method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (sendsBody) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.constData());
        if (request.method != "POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.constData());
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    }

    curl_multi_add_handle(multi.get(), e);
    CURLcode result = CURLE_OK;
    {
        CURLM* m = multi.get();
        std::stop_callback wake(token, [m] { curl_multi_wakeup(m); });
        for (;;) {
            int running = 0;
            if (curl_multi_perform(m, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                break;
            }
            if (running == 0) {
                int queued = 0;
                CURLMsg* message = curl_multi_info_read(m, &queued);
                result = message && message->msg == CURLMSG_DONE ? message->data.result
                                                                 : CURLE_FAILED_INIT;
                break;
            }
            if (token.stop_requested()) {
                result = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            const auto now = Clock::now();
            if (now >= deadlineAt) {
                result = CURLE_OPERATION_TIMEDOUT;
                break;
            }
            const auto wait =
                std::min(pollSlice, std::chrono::ceil<milliseconds>(deadlineAt - now));
            curl_multi_poll(m, nullptr, 0, int(wait.count()), nullptr);
        }
    }
    curl_multi_remove_handle(multi.get(), e);

    if (token.stop_requested())
        throw NetworkError::cancelled();
    if (receiver.overLimit)
        throw NetworkError::tooLarge(request.limits.maxAnswerBytes).withStatus(receiver.status);
    if (result != CURLE_OK) {
        const QString detail =
            QString::fromUtf8(curl_easy_strerror(result)) +
            (errorText[0] ? QStringLiteral(": ") + QString::fromUtf8(errorText) : QString());
        // curl's own bounds on a header line (100 KB, reported as out of memory) and on a
        // header block (300 KB) come long before a cap of megabytes.
        if (result == CURLE_OUT_OF_MEMORY ||
            (result == CURLE_RECV_ERROR && QByteArray(errorText).contains("header")))
            throw NetworkError(
                NetworkError::Kind::tooLarge,
                QStringLiteral("The server's answer has headers that are too large."), detail)
                .withStatus(receiver.status);
        // An answer that broke off after its status line is cut short, whatever the cause.
        if (receiver.status > 0 && (result == CURLE_RECV_ERROR || result == CURLE_PARTIAL_FILE))
            throw NetworkError::cutShort().withStatus(receiver.status);
        throw describe(result, request.url, detail).withStatus(receiver.status);
    }
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    receiver.response.status = int(status);
    return std::move(receiver.response);
}

} // namespace varno
