// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryApi.h"
#include "analytics/client/TelemetryConfig.h"
#include "analytics/client/TelemetryEvent.h"
#include "analytics/client/TelemetryFileBackedQueue.h"
#include "analytics/client/TelemetryLog.h"
#include "analytics/client/TelemetryReachability.h"

#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QObject;
class QThread;
class QTimer;

namespace varno {

// The most records sent in one request, and the queue depth that starts an upload.
struct BatchLimits {
    int cap = 50;
    int flushAt = 20;
};

// Where a queue's records live, how they are encoded and how a batch is sent.
template <typename Record> struct QueueEndpoint {
    QString storageKey;         // folder name inside the application folder
    QStringList oldStorageKeys; // older queue folders or single-file queues to migrate
    QString dispatchQueueLabel; // name of the worker thread
    std::function<int(const TelemetryConfig&)> initialCap;
    std::function<int(const TelemetryConfig&)> initialFlushAt;
    std::function<int(const TelemetryConfig&)> maxQueueSize;
    std::function<double(const TelemetryConfig&)> flushIntervalSeconds;
    std::function<std::optional<QByteArray>(const Record&)> encode;
    std::function<std::optional<Record>(const QByteArray&)> decode;
    std::function<QString(const Record&)> describe;
    // Sends the records and reports the outcome once, from any thread.
    std::function<void(const QList<Record>&, std::function<void(TelemetryUploadInfo)>)> send;
    std::function<bool(int)> isRetriableStatusCode;
};

// 408, 429, 500, 502, 503, 504 and every 3xx: worth sending again later.
bool isEventsRetriableStatusCode(int statusCode);

// Monotonic time, so back-off does not jump with the wall clock.
using TelemetryMonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

// The queue's outside effects; every default is the real thing.
struct TelemetryQueueEnvironment {
    TelemetryMonotonicClock now;                         // default: steady_clock
    std::shared_ptr<TelemetryReachability> reachability; // none: always reachable
    TelemetryFileOps fileOps;                            // default: the real file system
    TelemetryLogger log; // default: standard output when config.debug
};

namespace detail {

// The record-independent engine behind TelemetryQueue: it moves bytes between the
// file store and the endpoint's send, and owns the worker thread, the timer, the
// pause state and the batch limits.
struct ErasedEndpoint {
    QString storageKey;
    QStringList oldStorageKeys;
    QString dispatchQueueLabel;
    int initialCap = 50;
    int initialFlushAt = 20;
    int maxQueueSize = 1000;
    double flushIntervalSeconds = 30;
    // Decodes what it can and sends that; returns how many records went out (with 0
    // nothing was sent and completion is never called).
    std::function<int(const QList<QByteArray>&, std::function<void(TelemetryUploadInfo)>)>
        sendEntries;
    std::function<bool(int)> isRetriableStatusCode;
};

class TelemetryQueueCore : public std::enable_shared_from_this<TelemetryQueueCore> {
public:
    TelemetryQueueCore(const TelemetryConfig& config, const QString& applicationFolder,
                       ErasedEndpoint endpoint, TelemetryQueueEnvironment environment);
    ~TelemetryQueueCore();

    void start();
    bool add(const std::optional<QByteArray>& encoded, const QString& description,
             const std::function<void()>& flushDue);
    void flush();
    void stop();
    // Ends the worker thread; what it had not done yet is dropped. Called by the owner.
    void shutdown();

    int depth() const { return fileQueue_->depth(); }
    QString folder() const { return fileQueue_->folder(); }
    TelemetryFileBackedQueue& fileQueue() { return *fileQueue_; }
    BatchLimits batchLimits() const;
    int retryCount() const;
    std::optional<std::chrono::steady_clock::time_point> pausedUntil() const;
    bool isPaused() const;
    bool isFlushing() const;
    bool isTimerRunning() const;
    std::optional<QString> pauseReason() const;

private:
    void migrateOldQueues(const QString& applicationFolder);
    void post(std::function<void()> work);
    void take(int cap);
    void handleResult(const TelemetryUploadInfo& info, int batchSize, const QStringList& ids);
    void finishTake(bool success, const QStringList& ids);
    void pauseFor(double seconds);
    bool updatePauseState(TelemetryReachability::Connection connection); // under stateLock_

    TelemetryConfig config_;
    ErasedEndpoint endpoint_;
    TelemetryQueueEnvironment env_;
    int configuredMaxQueueSize_;
    double timerInterval_;

    mutable QMutex stateLock_;
    bool paused_ = false;
    std::optional<std::chrono::steady_clock::time_point> pausedUntil_;
    int retryCount_ = 0;

    mutable QMutex isFlushingLock_;
    bool isFlushing_ = false;

    mutable QMutex timerLock_;
    QTimer* timer_ = nullptr; // lives on the worker thread
    bool stopped_ = false;
    QMetaObject::Connection reachableToken_;
    QMetaObject::Connection unreachableToken_;

    mutable QMutex batchLimitsLock_;
    BatchLimits batchLimits_;

    std::unique_ptr<TelemetryFileBackedQueue> fileQueue_;
    std::atomic<bool> started_{false};

    QMutex postLock_;
    std::unique_ptr<QThread> thread_;
    QObject* worker_ = nullptr;
};

} // namespace detail

// The persistent upload queue: every record is written to disk first (one file
// each) and sent in batches by a serial worker thread, when flushAt records have
// gathered, on a repeating timer and on request. At most one upload is in flight.
// Failures back off linearly (1 s per consecutive failure, up to 30 s, or a longer
// Retry-After); a 413 halves the batch size; uploads wait while the network is
// unreachable. Records the server rejected as a client error are dropped.
//
// All operations may be called from any thread. Nothing is sent before start().
template <typename Record> class TelemetryQueue {
public:
    // Creates <applicationFolder>/<endpoint.storageKey> (migrating old queues into it)
    // and indexes the files found there.
    TelemetryQueue(const TelemetryConfig& config, const QString& applicationFolder,
                   QueueEndpoint<Record> endpoint, TelemetryQueueEnvironment environment = {})
        : endpoint_(std::move(endpoint)) {
        if (!environment.log)
            environment.log = telemetryStdoutLogger(config.debug);
        detail::ErasedEndpoint erased;
        erased.storageKey = endpoint_.storageKey;
        erased.oldStorageKeys = endpoint_.oldStorageKeys;
        erased.dispatchQueueLabel = endpoint_.dispatchQueueLabel;
        erased.initialCap =
            endpoint_.initialCap ? endpoint_.initialCap(config) : config.maxBatchSize;
        erased.initialFlushAt =
            endpoint_.initialFlushAt ? endpoint_.initialFlushAt(config) : config.flushAt;
        erased.maxQueueSize =
            endpoint_.maxQueueSize ? endpoint_.maxQueueSize(config) : config.maxQueueSize;
        erased.flushIntervalSeconds = endpoint_.flushIntervalSeconds
                                          ? endpoint_.flushIntervalSeconds(config)
                                          : config.flushIntervalSeconds;
        erased.isRetriableStatusCode = endpoint_.isRetriableStatusCode
                                           ? endpoint_.isRetriableStatusCode
                                           : &isEventsRetriableStatusCode;
        erased.sendEntries = [decode = endpoint_.decode, send = endpoint_.send,
                              log =
                                  environment.log](const QList<QByteArray>& entries,
                                                   std::function<void(TelemetryUploadInfo)> done) {
            QList<Record> records;
            records.reserve(entries.size());
            for (const QByteArray& data : entries)
                if (std::optional<Record> record = decode(data))
                    records.append(std::move(*record));
            if (records.isEmpty())
                return 0;
            telemetryLog(log, QStringLiteral("Sending batch of %1 records to the ingestion host")
                                  .arg(records.size()));
            send(records, std::move(done));
            return static_cast<int>(records.size());
        };
        core_ = std::make_shared<detail::TelemetryQueueCore>(
            config, applicationFolder, std::move(erased), std::move(environment));
    }

    ~TelemetryQueue() { core_->shutdown(); }
    TelemetryQueue(const TelemetryQueue&) = delete;
    TelemetryQueue& operator=(const TelemetryQueue&) = delete;

    // Follows the network monitor and starts the repeating flush timer.
    void start() { core_->start(); }

    // Writes the record to disk; true when it was stored. Calls flushDue (by default
    // this queue's flush) once the depth reaches the flush threshold. Never waits
    // for the network.
    bool add(const Record& record, const std::function<void()>& flushDue) {
        const std::optional<QByteArray> encoded = endpoint_.encode(record);
        return core_->add(encoded,
                          encoded && endpoint_.describe ? endpoint_.describe(record) : QString(),
                          flushDue);
    }
    bool add(const Record& record) {
        return add(record, [core = std::weak_ptr<detail::TelemetryQueueCore>(core_)] {
            if (auto queue = core.lock())
                queue->flush();
        });
    }

    // Starts an upload of up to the batch cap unless not started, paused or one is
    // in flight; returns at once.
    void flush() { core_->flush(); }

    // Ends the timer and the network subscriptions. An upload in flight still finishes.
    void stop() { core_->stop(); }

    int depth() const { return core_->depth(); }
    QString folder() const { return core_->folder(); }
    BatchLimits batchLimits() const { return core_->batchLimits(); }
    int retryCount() const { return core_->retryCount(); }
    std::optional<std::chrono::steady_clock::time_point> pausedUntil() const {
        return core_->pausedUntil();
    }
    bool isPaused() const { return core_->isPaused(); }
    bool isFlushing() const { return core_->isFlushing(); }
    bool isTimerRunning() const { return core_->isTimerRunning(); }
    std::optional<QString> pauseReason() const { return core_->pauseReason(); }
    TelemetryFileBackedQueue& fileQueue() { return core_->fileQueue(); }

private:
    QueueEndpoint<Record> endpoint_;
    std::shared_ptr<detail::TelemetryQueueCore> core_;
};

// The event queue's endpoint: folder "telemetry.queueFolder.uuid", events as their
// JSON form, sent through api.batch.
QueueEndpoint<TelemetryEvent> telemetryEventsEndpoint(std::shared_ptr<const TelemetryApi> api);

using TelemetryEventQueue = TelemetryQueue<TelemetryEvent>;

} // namespace varno
