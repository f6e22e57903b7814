#pragma once

#include "analytics/client/TelemetryApi.h"
#include "analytics/client/TelemetryEvent.h"
#include "analytics/client/TelemetryQueue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace varno::test {

// A monotonic clock that moves only when told to.
class ManualClock {
public:
    std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ticks_.load()));
    }
    void advance(std::chrono::duration<double> by) {
        ticks_ += std::chrono::duration_cast<std::chrono::nanoseconds>(by).count();
    }
    TelemetryMonotonicClock function() {
        return [this] { return now(); };
    }

private:
    std::atomic<std::int64_t> ticks_{std::int64_t(1'000'000'000'000)};
};

// Collects the client's debug lines from any thread.
class LogCapture {
public:
    TelemetryLogger logger() {
        return [this](const QString& line) {
            QMutexLocker lock(&mutex_);
            lines_.append(line);
        };
    }
    QStringList lines() const {
        QMutexLocker lock(&mutex_);
        return lines_;
    }
    bool contains(const QString& text) const {
        for (const QString& line : lines())
            if (line.contains(text))
                return true;
        return false;
    }

private:
    mutable QMutex mutex_;
    QStringList lines_;
};

// An endpoint send that records every batch and keeps its completion until the test answers.
class FakeSender {
public:
    struct Batch {
        QList<TelemetryEvent> events;
        std::function<void(TelemetryUploadInfo)> completion;
    };

    std::function<void(const QList<TelemetryEvent>&, std::function<void(TelemetryUploadInfo)>)>
    send() {
        return [this](const QList<TelemetryEvent>& events,
                      std::function<void(TelemetryUploadInfo)> completion) {
            QMutexLocker lock(&mutex_);
            batches_.append({events, std::move(completion)});
        };
    }
    int count() const {
        QMutexLocker lock(&mutex_);
        return static_cast<int>(batches_.size());
    }
    QList<TelemetryEvent> events(int index) const {
        QMutexLocker lock(&mutex_);
        return batches_.value(index).events;
    }
    // Answers batch index (once).
    void answer(int index, TelemetryUploadInfo info) {
        std::function<void(TelemetryUploadInfo)> completion;
        {
            QMutexLocker lock(&mutex_);
            completion = std::exchange(batches_[index].completion, {});
        }
        if (completion)
            completion(info);
    }
    void answerStatus(int index, int status, std::optional<double> retryAfter = std::nullopt) {
        answer(index, {status, std::nullopt, retryAfter});
    }

private:
    mutable QMutex mutex_;
    QList<Batch> batches_;
};

inline TelemetryEvent makeEvent(const QString& name, int index = 0) {
    return TelemetryEvent(name, QStringLiteral("distinct-1"), {{QStringLiteral("index"), index}});
}

inline TelemetryConfig testConfig(const QString& host = QStringLiteral("https://ingest.example")) {
    TelemetryConfig config(QStringLiteral("token-1"), host);
    config.flushIntervalSeconds = 3600; // the timer stays out of the way unless a test wants it
    return config;
}

inline QByteArray gunzip(const QByteArray& data) {
    z_stream stream{};
    if (inflateInit2(&stream, 31) != Z_OK)
        return {};
    QByteArray out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    int result = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            inflateEnd(&stream);
            return {};
        }
        out.append(buffer, static_cast<qsizetype>(sizeof buffer - stream.avail_out));
    } while (result != Z_STREAM_END);
    inflateEnd(&stream);
    return out;
}

// The uuids of the events in a /batch body.
inline QStringList batchUuids(const QByteArray& json) {
    QStringList ids;
    for (const QJsonValue& event : QJsonDocument::fromJson(json).object().value("batch").toArray())
        ids.append(event.toObject().value("uuid").toString());
    return ids;
}

} // namespace varno::test
