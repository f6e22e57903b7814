// SPDX-License-Identifier: MIT
#include "Reply.h"

#include <QJsonDocument>

namespace varno::devserver {

Reply Reply::json(const QJsonObject& object, int status) {
    Reply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
    return reply;
}

Reply Reply::ok() {
    return json(QJsonObject{{"ok", true}});
}

Reply Reply::error(int status, const QString& sentence) {
    return json(QJsonObject{{"error", sentence}}, status);
}

Reply Reply::html(std::string page) {
    Reply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = std::move(page);
    return reply;
}

Reply Reply::redirect(const QString& location) {
    Reply reply;
    reply.status = 302;
    reply.contentType = "text/plain; charset=utf-8";
    reply.body = "Redirecting to Varno.\n";
    reply.headers.emplace_back("Location", location.toStdString());
    return reply;
}

} // namespace varno::devserver
