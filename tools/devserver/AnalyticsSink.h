// SPDX-License-Identifier: MIT
#pragma once

#include "Clock.h"
#include "Database.h"

#include <QJsonArray>

#include <string>

namespace varno::devserver {

// Receives the app's analytics batches so that they can be inspected during
// development. Events are kept in the order they arrived.
class AnalyticsSink {
public:
    AnalyticsSink(Database& db, const Clock& clock) : db_(db), clock_(clock) {}

    // `body` is the JSON {api_key, batch, sent_at}; 400 when it has another shape.
    // Returns the number of events stored.
    int storeBatch(const std::string& body, bool gzipped);

    // [{apiKey, sentAt, receivedAt, gzipped, event}], oldest first.
    QJsonArray events();
    void clear();

private:
    Database& db_;
    const Clock& clock_;
};

} // namespace varno::devserver
