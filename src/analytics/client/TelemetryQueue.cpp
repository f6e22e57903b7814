// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryQueue.h"

#include "analytics/client/UuidV7.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace varno {

bool isEventsRetriableStatusCode(int statusCode) {
    switch (statusCode) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return statusCode >= 300 && statusCode <= 399;
    }
}

QueueEndpoint<TelemetryEvent> telemetryEventsEndpoint(std::shared_ptr<const TelemetryApi> api) {
    QueueEndpoint<TelemetryEvent> endpoint;
    endpoint.storageKey = QStringLiteral("telemetry.queueFolder.uuid");
    endpoint.oldStorageKeys = {QStringLiteral("telemetry.queueFolder"),
                               QStringLiteral("telemetry.queue.plist")};
    endpoint.dispatchQueueLabel = QStringLiteral("app.varno.telemetry.queue");
    endpoint.initialCap = [](const TelemetryConfig& config) { return config.maxBatchSize; };
    endpoint.initialFlushAt = [](const TelemetryConfig& config) { return config.flushAt; };
    endpoint.maxQueueSize = [](const TelemetryConfig& config) { return config.maxQueueSize; };
    endpoint.flushIntervalSeconds = [](const TelemetryConfig& config) {
        return config.flushIntervalSeconds;
    };
    endpoint.encode = [](const TelemetryEvent& event) -> std::optional<QByteArray> {
        return event.encode();
    };
    endpoint.decode = [](const QByteArray& bytes) { return TelemetryEvent::decode(bytes); };
    endpoint.describe = [](const TelemetryEvent& event) {
        return QStringLiteral("event '%1'").arg(event.event);
    };
    endpoint.send = [api = std::move(api)](const QList<TelemetryEvent>& events,
                                           std::function<void(TelemetryUploadInfo)> completion) {
        api->batch(events, std::move(completion));
    };
    endpoint.isRetriableStatusCode = &isEventsRetriableStatusCode;
    return endpoint;
}

namespace detail {

namespace {
// Far enough for any sane Retry-After, near enough that the time arithmetic cannot overflow.
constexpr double longestPauseSeconds = 24 * 3600;
} // namespace

TelemetryQueueCore::TelemetryQueueCore(const TelemetryConfig& config,
                                       const QString& applicationFolder, ErasedEndpoint endpoint,
                                       TelemetryQueueEnvironment environment)
    : config_(config), endpoint_(std::move(endpoint)), env_(std::move(environment)),
      configuredMaxQueueSize_(endpoint_.maxQueueSize),
      timerInterval_(endpoint_.flushIntervalSeconds) {
    if (!env_.now)
        env_.now = [] { return std::chrono::steady_clock::now(); };
    if (!env_.fileOps.write)
        env_.fileOps.write = &TelemetryFileOps::writeAtomically;
    if (!env_.fileOps.read)
        env_.fileOps.read = &TelemetryFileOps::readWhole;
    batchLimits_ = {std::max(1, endpoint_.initialCap), std::max(1, endpoint_.initialFlushAt)};

    const QString folder = QDir(applicationFolder).filePath(endpoint_.storageKey);
    if (!QDir().mkpath(folder))
        telemetryLog(env_.log, QStringLiteral("Error trying to create caching folder ") + folder);
    migrateOldQueues(applicationFolder);
    fileQueue_ = std::make_unique<TelemetryFileBackedQueue>(
        folder, std::max(1, configuredMaxQueueSize_), env_.fileOps, env_.log);

    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(endpoint_.dispatchQueueLabel);
    worker_ = new QObject;
    worker_->moveToThread(thread_.get());
    QObject::connect(thread_.get(), &QThread::finished, worker_, &QObject::deleteLater);
    thread_->start(QThread::LowPriority);
}

TelemetryQueueCore::~TelemetryQueueCore() {
    shutdown();
}

void TelemetryQueueCore::migrateOldQueues(const QString& applicationFolder) {
    const QDir app(applicationFolder);
    const QString folder = app.filePath(endpoint_.storageKey);
    for (const QString& key : std::as_const(endpoint_.oldStorageKeys)) {
        const QString oldPath = app.filePath(key);
        const QFileInfo info(oldPath);
        if (info.isDir()) {
            const QDir oldDir(oldPath);
            for (const QString& name : oldDir.entryList(QDir::Files))
                if (!QFile::rename(oldDir.filePath(name), QDir(folder).filePath(name)))
                    telemetryLog(env_.log, QStringLiteral("Failed to migrate queue file ") + name);
            if (!QDir(oldPath).removeRecursively())
                telemetryLog(env_.log,
                             QStringLiteral("Failed to remove old queue folder ") + oldPath);
        } else if (info.isFile()) {
            int code = 0;
            QString error;
            const std::optional<QByteArray> data = env_.fileOps.read(oldPath, &code, &error);
            const QJsonDocument document = data ? QJsonDocument::fromJson(*data) : QJsonDocument();
            if (!document.isArray()) {
                telemetryLog(
                    env_.log,
                    QStringLiteral("[Telemetry] Failed to migrate queue: invalid data format"));
                continue;
            }
            bool complete = true;
            for (const QJsonValue& record : document.array()) {
                if (!record.isObject())
                    continue;
                const QByteArray bytes =
                    QJsonDocument(record.toObject()).toJson(QJsonDocument::Compact);
                complete = env_.fileOps.write(QDir(folder).filePath(UuidV7::generateString()),
                                              bytes, &error) &&
                           complete;
            }
            if (complete)
                QFile::remove(oldPath);
            else
                telemetryLog(env_.log, QStringLiteral("Failed to migrate queue: ") + error);
        }
    }
}

void TelemetryQueueCore::post(std::function<void()> work) {
    QMutexLocker lock(&postLock_);
    if (worker_)
        QMetaObject::invokeMethod(worker_, std::move(work), Qt::QueuedConnection);
}

void TelemetryQueueCore::start() {
    started_ = true;
    std::weak_ptr<TelemetryQueueCore> weak = weak_from_this();
    if (env_.reachability) {
        {
            QMutexLocker lock(&stateLock_);
            updatePauseState(env_.reachability->connection());
        }
        QMutexLocker postLock(&postLock_);
        if (worker_) {
            QMutexLocker lock(&timerLock_);
            if (!stopped_) {
                reachableToken_ =
                    QObject::connect(env_.reachability.get(), &TelemetryReachability::reachable,
                                     worker_, [weak](TelemetryReachability::Connection connection) {
                                         auto self = weak.lock();
                                         if (!self)
                                             return;
                                         bool allowed = false;
                                         {
                                             QMutexLocker state(&self->stateLock_);
                                             allowed = self->updatePauseState(connection);
                                         }
                                         if (allowed)
                                             self->flush();
                                     });
                unreachableToken_ = QObject::connect(
                    env_.reachability.get(), &TelemetryReachability::unreachable, worker_, [weak] {
                        auto self = weak.lock();
                        if (!self)
                            return;
                        QMutexLocker state(&self->stateLock_);
                        telemetryLog(
                            self->env_.log,
                            QStringLiteral(
                                "[Telemetry] Queue is paused because network is unreachable"));
                        self->paused_ = true;
                    });
            }
        }
    }
    post([this, weak] {
        QMutexLocker lock(&timerLock_);
        if (stopped_ || timer_)
            return;
        timer_ = new QTimer(worker_);
        timer_->setInterval(std::max(1, static_cast<int>(std::lround(timerInterval_ * 1000))));
        QObject::connect(timer_, &QTimer::timeout, worker_, [weak] {
            if (auto self = weak.lock())
                self->flush();
        });
        timer_->start();
    });
}

bool TelemetryQueueCore::add(const std::optional<QByteArray>& encoded, const QString& description,
                             const std::function<void()>& flushDue) {
    if (!encoded) {
        telemetryLog(env_.log, QStringLiteral("[Telemetry] Tried to queue unserialisable record"));
        return false;
    }
    const TelemetryFileBackedQueue::AddResult result =
        fileQueue_->add(*encoded, configuredMaxQueueSize_);
    if (!result.stored)
        return false;
    if (result.evicted)
        telemetryLog(env_.log, QStringLiteral("[Telemetry] Queue is full, dropping oldest record"));
    const int depth = fileQueue_->depth();
    telemetryLog(env_.log, QStringLiteral("Queued %1. Depth: %2").arg(description).arg(depth));
    int flushAt = 0;
    {
        QMutexLocker lock(&batchLimitsLock_);
        flushAt = batchLimits_.flushAt;
    }
    if (depth >= flushAt && flushDue)
        flushDue();
    return true;
}

void TelemetryQueueCore::flush() {
    if (!started_) {
        telemetryLog(env_.log, QStringLiteral("The queue is not started yet"));
        return;
    }
    if (const std::optional<QString> reason = pauseReason()) {
        telemetryLog(env_.log, QStringLiteral("The queue is ") + *reason);
        return;
    }
    const int cap = batchLimits().cap;
    post([this, cap] { take(cap); });
}

void TelemetryQueueCore::take(int cap) {
    if (const std::optional<QString> reason = pauseReason()) {
        telemetryLog(env_.log, QStringLiteral("The queue is ") + *reason);
        return;
    }
    {
        QMutexLocker lock(&isFlushingLock_);
        if (isFlushing_) {
            telemetryLog(env_.log, QStringLiteral("[Telemetry] Already flushing"));
            return;
        }
        isFlushing_ = true;
    }
    const QList<TelemetryFileBackedQueue::Entry> entries = fileQueue_->loadEntries(cap);
    QStringList ids;
    QList<QByteArray> data;
    ids.reserve(entries.size());
    data.reserve(entries.size());
    for (const auto& entry : entries) {
        ids.append(entry.id);
        data.append(entry.data);
    }
    if (entries.isEmpty()) {
        finishTake(true, ids);
        return;
    }
    auto sent = std::make_shared<int>(0);
    std::weak_ptr<TelemetryQueueCore> weak = weak_from_this();
    // The count is known only after send returned, but a fake may complete at once:
    // the result is handled on the worker thread, after this function has finished.
    *sent = endpoint_.sendEntries(data, [weak, ids, sent](TelemetryUploadInfo info) {
        if (auto self = weak.lock())
            self->post([self = self.get(), info = std::move(info), ids, sent] {
                self->handleResult(info, *sent, ids);
            });
    });
    if (*sent == 0)
        finishTake(true, ids); // nothing in the batch could be read: drop it
}

void TelemetryQueueCore::handleResult(const TelemetryUploadInfo& info, int batchSize,
                                      const QStringList& ids) {
    const std::optional<int> status = info.statusCode;
    if (!status || *status == -1 || endpoint_.isRetriableStatusCode(*status)) {
        int failures = 0;
        {
            QMutexLocker lock(&stateLock_);
            if (retryCount_ < 30)
                ++retryCount_;
            failures = retryCount_;
        }
        const double delay = std::min(failures, 30);
        const double pause = info.retryAfter ? std::max(delay, *info.retryAfter) : delay;
        pauseFor(pause);
        telemetryLog(
            env_.log,
            QStringLiteral("Pausing queue consumption for %1 seconds due to %2 API failure(s).")
                .arg(pause)
                .arg(failures));
        finishTake(false, ids);
        return;
    }
    if (*status == 413) {
        BatchLimits limits = batchLimits();
        if (limits.cap < 2 || batchSize < 2) {
            telemetryLog(
                env_.log,
                QStringLiteral("[Telemetry] Queue: dropping singleton batch after HTTP 413"));
        } else {
            {
                QMutexLocker lock(&batchLimitsLock_);
                batchLimits_.cap = std::max(1, std::min(batchSize, batchLimits_.cap) / 2);
                batchLimits_.flushAt =
                    std::max(1, std::min(batchLimits_.cap, batchLimits_.flushAt / 2));
                limits = batchLimits_;
            }
            telemetryLog(env_.log,
                         QStringLiteral("Queue: HTTP 413, halved batch cap to %1").arg(limits.cap));
            finishTake(false, ids);
            return;
        }
    }
    {
        QMutexLocker lock(&stateLock_);
        retryCount_ = 0;
        pausedUntil_.reset();
    }
    finishTake(true, ids);
}

void TelemetryQueueCore::finishTake(bool success, const QStringList& ids) {
    if (success && !ids.isEmpty()) {
        fileQueue_->remove(ids);
        telemetryLog(env_.log, QStringLiteral("[Telemetry] Completed!"));
    }
    QMutexLocker lock(&isFlushingLock_);
    isFlushing_ = false;
}

void TelemetryQueueCore::pauseFor(double seconds) {
    const double bounded = std::clamp(seconds, 0.0, longestPauseSeconds);
    const auto duration = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(bounded));
    QMutexLocker lock(&stateLock_);
    pausedUntil_ = env_.now() + duration;
}

bool TelemetryQueueCore::updatePauseState(TelemetryReachability::Connection connection) {
    switch (connection) {
    case TelemetryReachability::Connection::none:
        telemetryLog(env_.log,
                     QStringLiteral("[Telemetry] Queue is paused because network is unreachable"));
        paused_ = true;
        return false;
    case TelemetryReachability::Connection::cellular:
        if (config_.dataMode == TelemetryConfig::DataMode::wifi) {
            telemetryLog(env_.log, QStringLiteral(
                                       "[Telemetry] Queue is paused because its not in WiFi mode"));
            paused_ = true;
            return false;
        }
        paused_ = false;
        return true;
    case TelemetryReachability::Connection::wifi:
        break;
    }
    paused_ = false;
    return true;
}

std::optional<QString> TelemetryQueueCore::pauseReason() const {
    QMutexLocker lock(&stateLock_);
    if (paused_)
        return QStringLiteral("paused due to the reachability check");
    if (pausedUntil_) {
        const auto now = env_.now();
        if (*pausedUntil_ > now) {
            const double left = std::chrono::duration<double>(*pausedUntil_ - now).count();
            return QStringLiteral("paused until `%1 s from now`").arg(left, 0, 'f', 3);
        }
    }
    return std::nullopt;
}

void TelemetryQueueCore::stop() {
    {
        QMutexLocker lock(&timerLock_);
        stopped_ = true;
        QObject::disconnect(reachableToken_);
        QObject::disconnect(unreachableToken_);
    }
    post([this] {
        QMutexLocker lock(&timerLock_);
        delete timer_;
        timer_ = nullptr;
    });
}

void TelemetryQueueCore::shutdown() {
    if (!thread_)
        return;
    stop();
    {
        QMutexLocker lock(&postLock_);
        if (worker_)
            QMetaObject::invokeMethod(
                worker_, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
        worker_ = nullptr; // deleted by the thread's finished signal
    }
    if (QThread::currentThread() == thread_.get()) {
        // Shut down from its own worker: it cannot wait for itself, so the thread
        // object goes once the thread has finished.
        QThread* thread = thread_.release();
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        return;
    }
    thread_->wait();
    thread_.reset();
}

BatchLimits TelemetryQueueCore::batchLimits() const {
    QMutexLocker lock(&batchLimitsLock_);
    return batchLimits_;
}

int TelemetryQueueCore::retryCount() const {
    QMutexLocker lock(&stateLock_);
    return retryCount_;
}

std::optional<std::chrono::steady_clock::time_point> TelemetryQueueCore::pausedUntil() const {
    QMutexLocker lock(&stateLock_);
    return pausedUntil_;
}

bool TelemetryQueueCore::isPaused() const {
    QMutexLocker lock(&stateLock_);
    return paused_;
}

bool TelemetryQueueCore::isFlushing() const {
    QMutexLocker lock(&isFlushingLock_);
    return isFlushing_;
}

bool TelemetryQueueCore::isTimerRunning() const {
    QMutexLocker lock(&timerLock_);
    return timer_ != nullptr;
}

} // namespace detail

} // namespace varno
