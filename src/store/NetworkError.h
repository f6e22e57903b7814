#pragma once

#include <QNetworkReply>
#include <QString>

#include <stdexcept>

namespace varno {

// A failure of the network itself (no connection, refused certificate, timeout,
// a stopped request), with Qt's code and a description for the user.
class NetworkError : public std::runtime_error {
public:
    NetworkError(QNetworkReply::NetworkError code, const QString& text)
        : std::runtime_error(text.toStdString()), code_(code), text_(text) {}

    // Our own stop of the request (never a timeout).
    static NetworkError cancelled() {
        return NetworkError(QNetworkReply::OperationCanceledError,
                            QStringLiteral("The request was cancelled."));
    }
    // The request stayed idle for longer than its timeout.
    static NetworkError timedOut() {
        return NetworkError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
    }

    // The connection ended before the whole answer had arrived.
    static NetworkError cutShort() {
        return NetworkError(QNetworkReply::RemoteHostClosedError,
                            QStringLiteral("Connection closed"));
    }

    // The answer was larger than the limit and was cut off.
    static NetworkError tooLarge(qint64 limitBytes) {
        const bool megabytes = limitBytes >= 1024 * 1024;
        return NetworkError(QNetworkReply::UnknownContentError,
                            QStringLiteral("The server's answer is larger than %1 %2.")
                                .arg(megabytes ? limitBytes / (1024 * 1024) : limitBytes / 1024)
                                .arg(megabytes ? QStringLiteral("MB") : QStringLiteral("KB")));
    }

    QNetworkReply::NetworkError code() const { return code_; }
    const QString& text() const { return text_; }
    bool isCancelled() const { return code_ == QNetworkReply::OperationCanceledError; }

private:
    QNetworkReply::NetworkError code_;
    QString text_;
};

} // namespace varno
