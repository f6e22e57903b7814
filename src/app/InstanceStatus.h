// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace varno {

class JsonNode;
class SingleInstance;

// What a running Varno tells another `varno` process that asks: which kind of Varno
// it is, its process, and how its syncing went.
struct InstanceStatus {
    enum class Mode { tray, headless, signIn };
    Mode mode = Mode::tray;
    qint64 process = 0;
    std::optional<QDateTime> lastUpload;
    std::optional<QString> lastError; // of the latest automatic sync

    QByteArray toJson() const;
    // Throws DecodingError for anything but a status.
    static InstanceStatus decode(const JsonNode& node);

    // "in the tray (process 42)", "as a service (varno --headless, process 42)", …
    QString whereRunning() const;

    // The running Varno's status, asked over its socket; none when it does not
    // answer in time or answers nonsense.
    static std::optional<InstanceStatus> ask(SingleInstance& instance);
    // For a process that found another Varno running: "Varno is already running in
    // the tray (process 42)." (as much of it as the running one told).
    static QString alreadyRunning(const std::optional<InstanceStatus>& told,
                                  const SingleInstance& instance);
};

} // namespace varno
