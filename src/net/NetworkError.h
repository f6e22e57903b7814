// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <stdexcept>

namespace varno {

// A failure of the exchange itself (no connection, refused certificate, timeout, a
// stopped request, an answer cut short or too large): a sentence for the user, and
// the transport's own words for the log.
class NetworkError : public std::runtime_error {
public:
    enum class Kind {
        cancelled,
        timedOut,
        tooLarge,
        cutShort,
        notHttp, // the other end answered with something that is not HTTP, or nothing
        unreadable,
        cannotResolve,
        cannotConnect,
        certificate,
        tls,
        proxy,
        insecure,
        other,
    };

    NetworkError(Kind kind, const QString& text, const QString& detail = {})
        : std::runtime_error(text.toStdString()), kind_(kind), text_(text), detail_(detail) {}

    // Our own stop of the request (never a timeout).
    static NetworkError cancelled() {
        return NetworkError(Kind::cancelled, QStringLiteral("The request was cancelled."));
    }
    static NetworkError timedOut() {
        return NetworkError(Kind::timedOut, QStringLiteral("The request timed out."));
    }
    // The connection ended before the whole answer had arrived.
    static NetworkError cutShort() {
        return NetworkError(Kind::cutShort, QStringLiteral("Connection closed"));
    }
    // The answer was larger than the limit and was cut off.
    static NetworkError tooLarge(qint64 limitBytes) {
        const bool megabytes = limitBytes >= 1024 * 1024;
        return NetworkError(Kind::tooLarge,
                            QStringLiteral("The server's answer is larger than %1 %2.")
                                .arg(megabytes ? limitBytes / (1024 * 1024) : limitBytes / 1024)
                                .arg(megabytes ? QStringLiteral("MB") : QStringLiteral("KB")));
    }
    static NetworkError unreadable(const QString& detail) {
        return NetworkError(Kind::unreadable,
                            QStringLiteral("The server's answer could not be read."), detail);
    }

    Kind kind() const { return kind_; }
    const QString& text() const { return text_; }
    // What the transport itself said, for the log; may be empty.
    const QString& detail() const { return detail_; }
    bool isCancelled() const { return kind_ == Kind::cancelled; }
    // The status of the answer that broke off, when its status line had come; 0 otherwise.
    int status() const { return status_; }
    NetworkError& withStatus(int status) {
        status_ = status;
        return *this;
    }

private:
    Kind kind_;
    QString text_;
    QString detail_;
    int status_ = 0;
};

} // namespace varno
