#pragma once

#include "support/DevServerProcess.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <string>

namespace varno::test {

// One answer of the development server, with its JSON body when it has one.
struct Answer {
    int status = 0; // 0: no HTTP answer at all
    std::string body;
    QJsonObject json;
    std::string location;
    std::string contentType;

    QString error() const { return json.value("error").toString(); }
};

// Plain HTTP calls against a running varno-devserver, plus the development endpoints
// that set up users and friendships. Not thread-safe: use one per thread.
class DevServerApi {
public:
    explicit DevServerApi(const DevServerProcess& server);

    Answer get(const std::string& path, const QString& token = {},
               const httplib::Headers& headers = {});
    Answer send(const std::string& method, const std::string& path, const std::string& body,
                const QString& token = {}, const httplib::Headers& headers = {});
    Answer post(const std::string& path, const QJsonObject& body, const QString& token = {});

    // The browser sign-in as the app does it; returns the bearer token.
    QString signIn(const QString& account);
    void createUser(const QString& id, const QString& name);
    // A bearer token straight from /dev/sessions.
    QString tokenFor(const QString& userId);
    QString befriend(const QString& from, const QString& to, bool accepted);

    // Uploads one device's rows: {provider, date, tokens}.
    struct Row {
        QString provider;
        QString date;
        qint64 tokens;
    };
    Answer upload(const QString& token, const QString& deviceId, const std::vector<Row>& rows);
    QJsonObject dashboard(const QString& token, const QString& date);

private:
    httplib::Client client_;
};

// Lower-case hex SHA-256, the challenge of a verifier.
QString challengeOf(const QString& verifier);

} // namespace varno::test
