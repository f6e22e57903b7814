#include "DevServerApi.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

#include <stdexcept>

namespace varno::test {

namespace {
Answer toAnswer(const httplib::Result& result) {
    Answer answer;
    if (!result)
        return answer;
    answer.status = result->status;
    answer.body = result->body;
    answer.location = result->get_header_value("Location");
    answer.contentType = result->get_header_value("Content-Type");
    answer.json = QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object();
    return answer;
}

httplib::Headers withToken(httplib::Headers headers, const QString& token) {
    if (!token.isEmpty())
        headers.emplace("Authorization", "Bearer " + token.toStdString());
    return headers;
}

void require(const Answer& answer, int status, const char* what) {
    if (answer.status != status)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(answer.status) +
                                 " " + answer.body);
}
} // namespace

QString challengeOf(const QString& verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256).toHex());
}

DevServerApi::DevServerApi(const DevServerProcess& server)
    : client_(server.host().toStdString(), server.port()) {
    client_.set_connection_timeout(5);
    client_.set_read_timeout(10);
}

Answer DevServerApi::get(const std::string& path, const QString& token,
                         const httplib::Headers& headers) {
    return toAnswer(client_.Get(path.c_str(), withToken(headers, token)));
}

Answer DevServerApi::send(const std::string& method, const std::string& path,
                          const std::string& body, const QString& token,
                          const httplib::Headers& headers) {
    const auto all = withToken(headers, token);
    const char* type = "application/json";
    if (method == "POST")
        return toAnswer(client_.Post(path.c_str(), all, body, type));
    if (method == "PATCH")
        return toAnswer(client_.Patch(path.c_str(), all, body, type));
    if (method == "DELETE")
        return toAnswer(client_.Delete(path.c_str(), all, body, type));
    if (method == "PUT")
        return toAnswer(client_.Put(path.c_str(), all, body, type));
    throw std::invalid_argument("unsupported method " + method);
}

Answer DevServerApi::post(const std::string& path, const QJsonObject& body, const QString& token) {
    return send("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                token);
}

QString DevServerApi::signIn(const QString& account) {
    const QString verifier = QStringLiteral("verifier-for-") + account;
    const QString state = QStringLiteral("state-for-") + account;
    const auto start = get("/api/auth/github?challenge=" + challengeOf(verifier).toStdString() +
                           "&state=" + state.toStdString());
    require(start, 200, "sign-in start");
    const QUrl page(start.json.value("url").toString());
    const auto redirect = get(
        (page.path() + "?" + page.query(QUrl::FullyEncoded) + "&account=" + account).toStdString());
    require(redirect, 302, "sign-in page");
    const QString code =
        QUrlQuery(QUrl(QString::fromStdString(redirect.location))).queryItemValue("code");
    const auto exchange =
        post("/api/auth/exchange", QJsonObject{{"code", code}, {"verifier", verifier}});
    require(exchange, 200, "sign-in exchange");
    return exchange.json.value("token").toString();
}

void DevServerApi::createUser(const QString& id, const QString& name) {
    require(post("/dev/users", QJsonObject{{"id", id}, {"name", name}}), 201, "create user");
}

QString DevServerApi::tokenFor(const QString& userId) {
    const auto answer = post("/dev/sessions", QJsonObject{{"userId", userId}});
    require(answer, 201, "create session");
    return answer.json.value("token").toString();
}

QString DevServerApi::befriend(const QString& from, const QString& to, bool accepted) {
    const auto answer =
        post("/dev/friends", QJsonObject{{"from", from}, {"to", to}, {"accepted", accepted}});
    require(answer, 201, "create friend request");
    return answer.json.value("id").toString();
}

Answer DevServerApi::upload(const QString& token, const QString& deviceId,
                            const std::vector<Row>& rows) {
    QJsonArray daily;
    for (const auto& row : rows)
        daily.append(QJsonObject{
            {"provider", row.provider}, {"date", row.date}, {"totalTokens", row.tokens}});
    return post("/api/usage",
                QJsonObject{{"deviceId", deviceId},
                            {"collectedAt", "2026-03-01T12:00:00Z"},
                            {"daily", daily}},
                token);
}

QJsonObject DevServerApi::dashboard(const QString& token, const QString& date) {
    const auto answer = get("/api/dashboard?date=" + date.toStdString(), token);
    require(answer, 200, "dashboard");
    return answer.json;
}

} // namespace varno::test
