// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryClient.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace varno::test {

// An analytics client that keeps what it is asked, in order: "identify <id>", "reset",
// "capture <event>" (with " after <n>" when requestCount is set: how many requests the
// server had seen by then), the configuration it was set up with and the flushes.
class RecordingTelemetry : public TelemetryClient {
public:
    RecordingTelemetry() = default;
    explicit RecordingTelemetry(std::function<int()> requestCount)
        : requestCount_(std::move(requestCount)) {}

    void setup(const TelemetryConfig& with) override { config.emplace(with); }
    QString getDistinctId() override { return id.isEmpty() ? QStringLiteral("anon") : id; }
    QString getAnonymousId() override { return QStringLiteral("anon"); }
    void identify(const QString& user, const QVariantMap&) override {
        id = user;
        calls.append(QStringLiteral("identify ") + user);
    }
    void reset() override {
        id.clear();
        calls.append(QStringLiteral("reset"));
    }
    void capture(const QString& event, const QVariantMap&) override {
        calls.append(
            QStringLiteral("capture ") + event +
            (requestCount_ ? QStringLiteral(" after %1").arg(requestCount_()) : QString()));
    }
    void flush() override { ++flushes; }
    QStringList captures() const { return calls.filter(QStringLiteral("capture ")); }

    std::optional<TelemetryConfig> config;
    QString id;
    QStringList calls;
    int flushes = 0;

private:
    std::function<int()> requestCount_;
};

} // namespace varno::test
