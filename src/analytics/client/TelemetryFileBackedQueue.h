// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryLog.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace varno {

// File access of the on-disk queue, replaceable so tests can make writes and reads fail.
struct TelemetryFileOps {
    // Writes the whole file or nothing: a crash never leaves a partial file under path.
    std::function<bool(const QString& path, const QByteArray& data, QString* error)> write;
    // Reads the whole file. On failure returns nothing and sets errorCode to the errno.
    std::function<std::optional<QByteArray>(const QString& path, int* errorCode, QString* error)>
        read;

    // Writes to a hidden temporary file beside path, then renames it into place. The
    // file is readable and writable by its owner only, also when it replaces another.
    static bool writeAtomically(const QString& path, const QByteArray& data, QString* error);
    static std::optional<QByteArray> readWhole(const QString& path, int* errorCode, QString* error);
    static TelemetryFileOps system();
};

// The on-disk part of the queue: one file per record, named by a fresh version-7
// UUID, and an in-memory index of the names, oldest first. Bodies are read only when
// a batch is loaded. All operations are thread-safe.
class TelemetryFileBackedQueue {
public:
    struct Entry {
        QString id;
        QByteArray data;
    };
    struct AddResult {
        bool stored = false;
        std::optional<QString> evicted; // the oldest name dropped to make room
    };

    // Creates the folder if needed and indexes the files in it (see reindexFromDisk).
    // maxSize of nothing means no limit.
    TelemetryFileBackedQueue(QString folder, std::optional<int> maxSize,
                             TelemetryFileOps fileOps = {}, TelemetryLogger log = {},
                             std::function<QString()> newName = {});

    // Stores data as a new file, making the folder again if it has been deleted. With a
    // limit (at least 1; defaults to maxSize), a full queue first loses its oldest
    // file. A failed write leaves the index unchanged.
    AddResult add(const QByteArray& data, std::optional<int> maxSize = std::nullopt);

    // Up to limit entries, oldest first. Missing files leave the index; unreadable ones
    // are deleted and leave it too; a file refused for lack of permission ends the
    // load there and is tried again next time.
    QList<Entry> loadEntries(int limit);

    // Deletes the files of the given names that are in the index.
    void remove(const QStringList& ids);

    // Rebuilds the index from the folder: files ordered by creation time (or by name,
    // which is time-ordered, where the file system keeps no creation time), the
    // oldest beyond maxSize deleted, leftovers of interrupted writes removed.
    void reindexFromDisk();

    int depth() const;
    QStringList names() const;
    QString folder() const { return folder_; }
    QString pathFor(const QString& id) const;

    // True for errors that may pass: no permission to read (EACCES, EPERM).
    static bool isTemporarilyUnavailable(int errorCode);

private:
    QString folder_;
    std::optional<int> maxSize_;
    TelemetryFileOps fileOps_;
    TelemetryLogger log_;
    std::function<QString()> newName_;
    mutable QMutex itemsLock_;
    QStringList items_;
};

} // namespace varno
