// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryLog.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace varno {

class TelemetryConfig;

// Why the session id changed; the texts appear in debug log lines.
enum class SessionIdChangeReason {
    sessionIdEmpty,
    sessionStart,
    sessionEnd,
    sessionReset,
    sessionTimeout,
    sessionPastMaximumLength,
    customSessionId,
};

QString sessionIdChangeReasonText(SessionIdChangeReason reason);

// Owns the "$session_id" of captured events. A session starts at setup, stays alive
// while events come in, and is replaced after 30 minutes without activity or 24 hours
// after it began. In the background an expired session is cleared instead of replaced,
// so events sent by timers while nobody uses the app do not open sessions. Nothing is
// stored on disk: every process begins a new session.
//
// All methods are thread-safe; change callbacks run on the calling thread after the
// lock is released.
class TelemetrySessionManager {
public:
    using Clock = std::function<QDateTime()>;
    using ChangeCallback =
        std::function<void(const std::optional<QString>& sessionId, SessionIdChangeReason reason)>;
    using Logger = TelemetryLogger;

    static constexpr double sessionActivityThreshold = 1800.0;   // seconds
    static constexpr double sessionMaxLengthThreshold = 86400.0; // seconds

    explicit TelemetrySessionManager(Clock clock = {}, Logger log = {});

    // Keeps the configuration and the application's current foreground state.
    void setup(const TelemetryConfig& config, bool appInBackground);

    void startSession();
    // The session id valid at the given time. Unless readOnly, the session may be started,
    // rotated or cleared first, and a returned id counts the time as activity.
    std::optional<QString> getSessionId(const QDateTime& at, bool readOnly = false);
    void touchSession();
    void resetSession();
    // Clears the id (reason sessionEnd); the next foreground event starts a new one.
    void endSession();

    void applicationDidBecomeActive();
    void applicationDidEnterBackground();

    // Returns a token for removeChangeCallback.
    int addChangeCallback(ChangeCallback callback);
    void removeChangeCallback(int token);

private:
    void setSessionId(std::optional<QString> id, std::optional<QDateTime> at,
                      SessionIdChangeReason reason);
    // Sets the id and both timestamps; the caller holds sessionLock_.
    std::optional<QString> assignLocked(std::optional<QString> id, std::optional<QDateTime> at);
    void notify(const std::optional<QString>& id, SessionIdChangeReason reason);
    static QString newSessionId();
    QDateTime now() const;

    Clock clock_;
    Logger log_;

    mutable std::mutex sessionLock_;
    std::optional<QString> sessionId_;
    std::optional<double> sessionStartTimestamp_;
    std::optional<double> sessionActivityTimestamp_;
    bool isAppInBackground_ = false;

    std::mutex callbacksLock_;
    std::map<int, ChangeCallback> onSessionIdChanged_;
    int nextCallbackToken_ = 1;
};

} // namespace varno
