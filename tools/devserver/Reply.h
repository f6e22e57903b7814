// SPDX-License-Identifier: MIT
#pragma once

#include <QJsonObject>
#include <QString>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace varno::devserver {

// What a route answers. JSON by default; the sign-in page answers HTML or a redirect.
struct Reply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    static Reply json(const QJsonObject& object, int status = 200);
    static Reply ok(); // {"ok": true}
    static Reply error(int status, const QString& sentence);
    static Reply html(std::string page);
    static Reply redirect(const QString& location);
};

// Thrown by services to refuse a request; the router turns it into an error reply.
class HttpError : public std::runtime_error {
public:
    HttpError(int status, const QString& sentence)
        : std::runtime_error(sentence.toStdString()), status_(status), sentence_(sentence) {}
    int status() const { return status_; }
    const QString& sentence() const { return sentence_; }

private:
    int status_;
    QString sentence_;
};

inline HttpError badRequest(const QString& sentence) {
    return HttpError(400, sentence);
}
inline HttpError notFound(const QString& sentence) {
    return HttpError(404, sentence);
}

} // namespace varno::devserver
