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

    QNetworkReply::NetworkError code() const { return code_; }
    const QString& text() const { return text_; }
    bool isCancelled() const { return code_ == QNetworkReply::OperationCanceledError; }

private:
    QNetworkReply::NetworkError code_;
    QString text_;
};

} // namespace varno
