// SPDX-License-Identifier: MIT
#pragma once

#include "support/DevServerProcess.h"

#include <httplib.h>

#include <QCryptographicHash>
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

namespace varno::test {

// One answer of the development server; status 0 when there was no HTTP answer at all.
struct Answer {
    int status = 0;
    std::string body, location;
    QJsonObject json;
    QString error() const { return json.value("error").toString(); }
};

inline QString challengeOf(const QString& verifier) {
    return QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256).toHex();
}

// HTTP calls against a running varno-devserver and its /dev/ set-up endpoints; one per thread.
class DevServerApi {
public:
    explicit DevServerApi(const DevServerProcess& server)
        : client_(server.host().toStdString(), server.port()) {
        client_.set_connection_timeout(5);
        client_.set_read_timeout(10);
    }

    Answer call(const std::string& method, const std::string& path, const std::string& body = {},
                const QString& token = {}, httplib::Headers headers = {}) {
        httplib::Request request;
        request.method = method, request.path = path, request.body = body;
        request.headers = std::move(headers);
        request.headers.emplace("Content-Type", "application/json");
        if (!token.isEmpty())
            request.headers.emplace("Authorization", "Bearer " + token.toStdString());
        const auto result = client_.send(request);
        if (!result)
            return {};
        return {result->status, result->body, result->get_header_value("Location"),
                QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object()};
    }
    Answer post(const std::string& path, const QJsonObject& body, const QString& token = {}) {
        return call("POST", path, QJsonDocument(body).toJson().toStdString(), token);
    }

    void createUser(const QString& id, const QString& name) {
        require(post("/dev/users", {{"id", id}, {"name", name}}), 201);
    }
    // A bearer token straight from the development endpoint, without the browser sign-in.
    QString tokenFor(const QString& userId) {
        return require(post("/dev/sessions", {{"userId", userId}}), 201).value("token").toString();
    }
    QString befriend(const QString& from, const QString& to, bool accepted) {
        const QJsonObject request{{"from", from}, {"to", to}, {"accepted", accepted}};
        return require(post("/dev/friends", request), 201).value("id").toString();
    }

    // Uploads one device's rows of {provider, date, tokens}, as read at collectedAt.
    using Row = std::tuple<QString, QString, qint64>;
    Answer upload(const QString& token, const QString& deviceId, const std::vector<Row>& rows,
                  const QString& collectedAt = "2026-03-01T12:00:00Z") {
        QJsonArray daily;
        for (const auto& [provider, date, tokens] : rows)
            daily.append(
                QJsonObject{{"provider", provider}, {"date", date}, {"totalTokens", tokens}});
        return post("/api/usage",
                    {{"deviceId", deviceId}, {"collectedAt", collectedAt}, {"daily", daily}},
                    token);
    }
    QJsonObject dashboard(const QString& token, const QString& date) {
        return require(call("GET", "/api/dashboard?date=" + date.toStdString(), {}, token), 200);
    }
    // One person's leaderboard entry; empty when they are not on the board.
    QJsonObject entry(const QString& token, const QString& date, const QString& id) {
        for (const auto& value : dashboard(token, date).value("leaderboard").toArray())
            if (value.toObject().value("id").toString() == id)
                return value.toObject();
        return {};
    }

private:
    static QJsonObject require(const Answer& answer, int status) {
        if (answer.status != status)
            throw std::runtime_error("dev server answered " + std::to_string(answer.status) + " " +
                                     answer.body);
        return answer.json;
    }

    httplib::Client client_;
};

} // namespace varno::test
