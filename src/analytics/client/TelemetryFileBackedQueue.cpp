// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryFileBackedQueue.h"

#include "analytics/client/UuidV7.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace varno {

namespace {

constexpr const char* temporarySuffix = ".tmp";

QString errnoText(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool removeEntry(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

} // namespace

bool TelemetryFileOps::writeAtomically(const QString& path, const QByteArray& data,
                                       QString* error) {
    const QFileInfo target(path);
    const QByteArray finalPath = QFile::encodeName(path);
    const QByteArray temporaryPath = QFile::encodeName(
        target.path() + QStringLiteral("/.") + target.fileName() + QLatin1String(temporarySuffix));
    const int fd =
        ::open(temporaryPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (error)
            *error = errnoText(errno);
        return false;
    }
    // A leftover temporary file keeps its old mode through O_TRUNC; the rename then
    // gives the target exactly this file's mode, owner-only.
    ::fchmod(fd, 0600);
    const char* cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, cursor, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int code = written < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temporaryPath.constData());
            if (error)
                *error = errnoText(code);
            return false;
        }
        cursor += written;
        left -= written;
    }
    // The rename makes the file appear whole or not at all, even if the process is
    // killed; that is the failure this queue guards against, so no fsync.
    if (::close(fd) != 0 || ::rename(temporaryPath.constData(), finalPath.constData()) != 0) {
        const int code = errno;
        ::unlink(temporaryPath.constData());
        if (error)
            *error = errnoText(code);
        return false;
    }
    return true;
}

std::optional<QByteArray> TelemetryFileOps::readWhole(const QString& path, int* errorCode,
                                                      QString* error) {
    const auto fail = [&](int code) -> std::optional<QByteArray> {
        if (errorCode)
            *errorCode = code;
        if (error)
            *error = errnoText(code);
        return std::nullopt;
    };
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
    QByteArray data;
    data.resize(static_cast<qsizetype>(info.st_size));
    qsizetype done = 0;
    while (true) {
        if (done == data.size())
            data.resize(done + 4096); // the file grew; keep reading until the end
        const ssize_t got = ::read(fd, data.data() + done, static_cast<size_t>(data.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            return fail(code);
        }
        if (got == 0)
            break;
        done += got;
    }
    ::close(fd);
    data.resize(done);
    return data;
}

TelemetryFileOps TelemetryFileOps::system() {
    return {&TelemetryFileOps::writeAtomically, &TelemetryFileOps::readWhole};
}

bool TelemetryFileBackedQueue::isTemporarilyUnavailable(int errorCode) {
    return errorCode == EACCES || errorCode == EPERM;
}

TelemetryFileBackedQueue::TelemetryFileBackedQueue(QString folder, std::optional<int> maxSize,
                                                   TelemetryFileOps fileOps, TelemetryLogger log,
                                                   std::function<QString()> newName)
    : folder_(std::move(folder)), maxSize_(maxSize), fileOps_(std::move(fileOps)),
      log_(std::move(log)), newName_(std::move(newName)) {
    if (!fileOps_.write)
        fileOps_.write = &TelemetryFileOps::writeAtomically;
    if (!fileOps_.read)
        fileOps_.read = &TelemetryFileOps::readWhole;
    if (!newName_)
        newName_ = [] { return UuidV7::generateString(); };
    if (!QDir().mkpath(folder_))
        telemetryLog(log_, QStringLiteral("Error trying to create caching folder ") + folder_);
    reindexFromDisk();
}

QString TelemetryFileBackedQueue::pathFor(const QString& id) const {
    return folder_ + QLatin1Char('/') + id;
}

TelemetryFileBackedQueue::AddResult TelemetryFileBackedQueue::add(const QByteArray& data,
                                                                  std::optional<int> maxSize) {
    const QString name = newName_();
    std::optional<int> limit = maxSize ? std::optional(std::max(1, *maxSize)) : maxSize_;
    AddResult result;
    {
        QMutexLocker lock(&itemsLock_);
        QString error;
        bool written = fileOps_.write(pathFor(name), data, &error);
        // Someone deleted the folder while we run: make it again rather than lose
        // every later event until the next start.
        if (!written && !QFileInfo(folder_).isDir() && QDir().mkpath(folder_))
            written = fileOps_.write(pathFor(name), data, &error);
        if (!written) {
            lock.unlock();
            telemetryLog(log_, QStringLiteral("Could not write file ") + error);
            return result;
        }
        if (limit && items_.size() >= *limit)
            result.evicted = items_.takeFirst();
        items_.append(name);
        result.stored = true;
    }
    // Out of the index already, so deleting it needs no lock.
    if (result.evicted)
        QFile::remove(pathFor(*result.evicted));
    return result;
}

QList<TelemetryFileBackedQueue::Entry> TelemetryFileBackedQueue::loadEntries(int limit) {
    QStringList snapshot;
    {
        QMutexLocker lock(&itemsLock_);
        snapshot = items_;
    }
    QList<Entry> entries;
    QSet<QString> dropped;
    for (const QString& name : std::as_const(snapshot)) {
        if (entries.size() >= limit)
            break;
        const QString path = pathFor(name);
        int code = 0;
        QString error;
        std::optional<QByteArray> data = fileOps_.read(path, &code, &error);
        if (data) {
            entries.append({name, std::move(*data)});
            continue;
        }
        if (code == ENOENT) {
            telemetryLog(log_, QStringLiteral("File %1 does not exist").arg(path));
            dropped.insert(name);
        } else if (isTemporarilyUnavailable(code)) {
            telemetryLog(log_, QStringLiteral("File %1 is temporarily unavailable, will retry %2")
                                   .arg(path, error));
            break;
        } else {
            telemetryLog(log_, QStringLiteral("File %1 is corrupted %2").arg(path, error));
            removeEntry(path);
            dropped.insert(name);
        }
    }
    if (!dropped.isEmpty()) {
        QMutexLocker lock(&itemsLock_);
        items_.removeIf([&](const QString& name) { return dropped.contains(name); });
    }
    return entries;
}

void TelemetryFileBackedQueue::remove(const QStringList& ids) {
    const QSet<QString> wanted(ids.cbegin(), ids.cend());
    QStringList removed;
    {
        QMutexLocker lock(&itemsLock_);
        items_.removeIf([&](const QString& name) {
            if (!wanted.contains(name))
                return false;
            removed.append(name);
            return true;
        });
    }
    // Deleted after the lock is released, so that adds never wait for a batch's files.
    for (const QString& name : std::as_const(removed))
        removeEntry(pathFor(name));
}

void TelemetryFileBackedQueue::reindexFromDisk() {
    QStringList overflow;
    {
        QMutexLocker lock(&itemsLock_);
        items_.clear();
        const QDir dir(folder_);
        if (!dir.exists()) {
            telemetryLog(log_, QStringLiteral("Failed to load files for queue ") + folder_);
            return;
        }
        // Leftovers of writes that never finished: never a record.
        const QStringList leftovers =
            dir.entryList({QStringLiteral(".*") + QLatin1String(temporarySuffix)},
                          QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : leftovers)
            QFile::remove(dir.filePath(name));

        struct Found {
            QString name;
            qint64 created;
        };
        std::vector<Found> found;
        bool everyFileHasBirthTime = true;
        const QFileInfoList files =
            dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
        found.reserve(static_cast<size_t>(files.size()));
        for (const QFileInfo& info : files) {
            const QDateTime birth = info.birthTime();
            everyFileHasBirthTime = everyFileHasBirthTime && birth.isValid();
            found.push_back({info.fileName(), birth.isValid() ? birth.toMSecsSinceEpoch() : 0});
        }
        std::sort(found.begin(), found.end(), [&](const Found& a, const Found& b) {
            if (everyFileHasBirthTime && a.created != b.created)
                return a.created < b.created;
            return a.name < b.name;
        });
        items_.reserve(static_cast<qsizetype>(found.size()));
        for (const Found& file : found)
            items_.append(file.name);
        if (maxSize_ && items_.size() > std::max(1, *maxSize_)) {
            const qsizetype excess = items_.size() - std::max(1, *maxSize_);
            overflow = items_.mid(0, excess);
            items_.remove(0, excess);
        }
    }
    for (const QString& name : std::as_const(overflow))
        QFile::remove(pathFor(name));
    if (!overflow.isEmpty())
        telemetryLog(log_,
                     QStringLiteral("Dropped %1 oldest cached records to enforce queue capacity")
                         .arg(overflow.size()));
}

int TelemetryFileBackedQueue::depth() const {
    QMutexLocker lock(&itemsLock_);
    return static_cast<int>(items_.size());
}

QStringList TelemetryFileBackedQueue::names() const {
    QMutexLocker lock(&itemsLock_);
    return items_;
}

} // namespace varno
