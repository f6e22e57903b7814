// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetrySessionManager.h"

#include "analytics/client/UuidV7.h"

#include <vector>

namespace varno {

QString sessionIdChangeReasonText(SessionIdChangeReason reason) {
    switch (reason) {
    case SessionIdChangeReason::sessionIdEmpty:
        return QStringLiteral("Session id was empty");
    case SessionIdChangeReason::sessionStart:
        return QStringLiteral("Session started");
    case SessionIdChangeReason::sessionEnd:
        return QStringLiteral("Session ended");
    case SessionIdChangeReason::sessionReset:
        return QStringLiteral("Session was reset");
    case SessionIdChangeReason::sessionTimeout:
        return QStringLiteral("Session timed out");
    case SessionIdChangeReason::sessionPastMaximumLength:
        return QStringLiteral("Session past maximum length");
    case SessionIdChangeReason::customSessionId:
        return QStringLiteral("Custom session set");
    }
    return {};
}

namespace {
double secondsSinceEpoch(const QDateTime& date) {
    return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0;
}
} // namespace

TelemetrySessionManager::TelemetrySessionManager(Clock clock, Logger log)
    : clock_(std::move(clock)), log_(std::move(log)) {}

QDateTime TelemetrySessionManager::now() const {
    return clock_ ? clock_() : QDateTime::currentDateTimeUtc();
}

QString TelemetrySessionManager::newSessionId() {
    return UuidV7::generateString();
}

void TelemetrySessionManager::setup(const TelemetryConfig&, bool appInBackground) {
    std::lock_guard lock(sessionLock_);
    isAppInBackground_ = appInBackground;
}

void TelemetrySessionManager::startSession() {
    setSessionId(newSessionId(), now(), SessionIdChangeReason::sessionStart);
}

void TelemetrySessionManager::resetSession() {
    setSessionId(newSessionId(), now(), SessionIdChangeReason::sessionReset);
}

void TelemetrySessionManager::endSession() {
    setSessionId(std::nullopt, std::nullopt, SessionIdChangeReason::sessionEnd);
}

std::optional<QString> TelemetrySessionManager::getSessionId(const QDateTime& at, bool readOnly) {
    const double nowSeconds = secondsSinceEpoch(at);
    SessionIdChangeReason reason;
    std::optional<QString> result;
    {
        // Checked and replaced under one lock, so threads capturing at the moment a
        // session expires agree on its successor.
        std::lock_guard lock(sessionLock_);
        if (readOnly)
            return sessionId_;
        const bool hasId = sessionId_ && !sessionId_->isEmpty();
        if (!hasId && !isAppInBackground_) {
            reason = SessionIdChangeReason::sessionIdEmpty;
        } else if (sessionActivityTimestamp_ &&
                   nowSeconds - *sessionActivityTimestamp_ > sessionActivityThreshold) {
            reason = SessionIdChangeReason::sessionTimeout;
        } else if (sessionStartTimestamp_ &&
                   nowSeconds - *sessionStartTimestamp_ > sessionMaxLengthThreshold) {
            reason = SessionIdChangeReason::sessionPastMaximumLength;
        } else {
            // An event is activity: without this a session would expire 30 minutes after
            // it began however busy the user was.
            if (hasId && (!sessionActivityTimestamp_ || nowSeconds > *sessionActivityTimestamp_))
                sessionActivityTimestamp_ = nowSeconds;
            return hasId ? sessionId_ : std::nullopt;
        }
        if (isAppInBackground_ && reason != SessionIdChangeReason::sessionIdEmpty)
            assignLocked(std::nullopt, std::nullopt);
        else
            result = assignLocked(newSessionId(), at);
    }
    notify(result, reason);
    return result;
}

void TelemetrySessionManager::touchSession() {
    const QDateTime at = now();
    const double nowSeconds = secondsSinceEpoch(at);
    std::optional<QString> rotated;
    {
        std::lock_guard lock(sessionLock_);
        if (!sessionId_ || sessionId_->isEmpty())
            return;
        if (!sessionActivityTimestamp_ ||
            nowSeconds - *sessionActivityTimestamp_ <= sessionActivityThreshold) {
            if (!sessionActivityTimestamp_ || nowSeconds > *sessionActivityTimestamp_)
                sessionActivityTimestamp_ = nowSeconds;
            return;
        }
        rotated = assignLocked(newSessionId(), at);
    }
    notify(rotated, SessionIdChangeReason::sessionTimeout);
}

void TelemetrySessionManager::applicationDidBecomeActive() {
    bool wasInBackground = false;
    {
        std::lock_guard lock(sessionLock_);
        wasInBackground = isAppInBackground_;
    }
    if (!wasInBackground)
        return;
    touchSession();
    std::lock_guard lock(sessionLock_);
    isAppInBackground_ = false;
}

void TelemetrySessionManager::applicationDidEnterBackground() {
    std::lock_guard lock(sessionLock_);
    isAppInBackground_ = true;
}

int TelemetrySessionManager::addChangeCallback(ChangeCallback callback) {
    std::lock_guard lock(callbacksLock_);
    const int token = nextCallbackToken_++;
    onSessionIdChanged_.emplace(token, std::move(callback));
    return token;
}

void TelemetrySessionManager::removeChangeCallback(int token) {
    std::lock_guard lock(callbacksLock_);
    onSessionIdChanged_.erase(token);
}

void TelemetrySessionManager::setSessionId(std::optional<QString> id, std::optional<QDateTime> at,
                                           SessionIdChangeReason reason) {
    {
        std::lock_guard lock(sessionLock_);
        assignLocked(id, at);
    }
    notify(id, reason);
}

std::optional<QString> TelemetrySessionManager::assignLocked(std::optional<QString> id,
                                                             std::optional<QDateTime> at) {
    sessionId_ = id;
    if (at) {
        sessionStartTimestamp_ = secondsSinceEpoch(*at);
        sessionActivityTimestamp_ = sessionStartTimestamp_;
    } else {
        sessionStartTimestamp_.reset();
        sessionActivityTimestamp_.reset();
    }
    return id;
}

void TelemetrySessionManager::notify(const std::optional<QString>& id,
                                     SessionIdChangeReason reason) {
    std::vector<ChangeCallback> callbacks;
    {
        std::lock_guard lock(callbacksLock_);
        for (const auto& [token, callback] : onSessionIdChanged_)
            callbacks.push_back(callback);
    }
    for (const auto& callback : callbacks)
        callback(id, reason);
    if (log_) {
        if (id)
            telemetryLog(log_, QStringLiteral("New session id created %1 (%2)")
                                   .arg(*id, sessionIdChangeReasonText(reason)));
        else
            telemetryLog(log_, QStringLiteral("Session id cleared - reason: (%1)")
                                   .arg(sessionIdChangeReasonText(reason)));
    }
}

} // namespace varno
