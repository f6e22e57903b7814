// SPDX-License-Identifier: MIT
#include "AnalyticsSink.h"

#include "JsonInput.h"
#include "Reply.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace varno::devserver {

int AnalyticsSink::storeBatch(const std::string& body, bool gzipped) {
    const QJsonObject object = parseObjectBody(body);
    const QString apiKey = requiredText(object, QStringLiteral("api_key"));
    const QString sentAt = requiredText(object, QStringLiteral("sent_at"), 64);
    const auto batch = object.value(QStringLiteral("batch"));
    if (!batch.isArray())
        throw badRequest(QStringLiteral("batch must be a list of events."));
    const QJsonArray events = batch.toArray();
    for (qsizetype i = 0; i < events.size(); ++i)
        if (!events[i].isObject())
            throw badRequest(QStringLiteral("batch[%1] must be an object.").arg(i));

    const QString receivedAt = clock_.nowUtc().toString(Qt::ISODateWithMs);
    db_.transaction([&] {
        auto insert = db_.prepare("INSERT INTO analytics_events "
                                  "(api_key, sent_at, received_at, gzipped, event) "
                                  "VALUES (?1, ?2, ?3, ?4, ?5)");
        for (const auto& event : events) {
            insert.bind(1, apiKey)
                .bind(2, sentAt)
                .bind(3, receivedAt)
                .bind(4, std::int64_t(gzipped ? 1 : 0))
                .bind(5, QString::fromUtf8(
                             QJsonDocument(event.toObject()).toJson(QJsonDocument::Compact)));
            insert.run();
            insert.reset();
        }
    });
    return int(events.size());
}

QJsonArray AnalyticsSink::events() {
    QJsonArray result;
    db_.transaction([&] {
        auto row = db_.prepare("SELECT api_key, sent_at, received_at, gzipped, event "
                               "FROM analytics_events ORDER BY seq");
        while (row.step()) {
            QJsonObject entry{{"apiKey", row.text(0)},
                              {"receivedAt", row.text(2)},
                              {"gzipped", row.integer(3) != 0},
                              {"event", QJsonDocument::fromJson(row.text(4).toUtf8()).object()}};
            if (!row.isNull(1))
                entry.insert("sentAt", row.text(1));
            result.append(entry);
        }
    });
    return result;
}

void AnalyticsSink::clear() {
    db_.transaction([&] { db_.prepare("DELETE FROM analytics_events").run(); });
}

} // namespace varno::devserver
