// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <atomic>
#include <memory>

namespace varno {

// Network monitor for the upload queue: the current connection kind, and signals
// when the network becomes usable or goes away.
class TelemetryReachability : public QObject {
    Q_OBJECT
public:
    enum class Connection { none, wifi, cellular };
    Q_ENUM(Connection)

    using QObject::QObject;
    virtual Connection connection() const = 0;

signals:
    void reachable(varno::TelemetryReachability::Connection connection);
    void unreachable();
};

// A monitor whose state is set by hand: for tests, and for platforms without one.
class TelemetryManualReachability : public TelemetryReachability {
    Q_OBJECT
public:
    explicit TelemetryManualReachability(Connection initial = Connection::wifi,
                                         QObject* parent = nullptr);
    Connection connection() const override { return connection_.load(); }
    // Records the state and emits the matching signal.
    void setConnection(Connection connection);

private:
    std::atomic<Connection> connection_;
};

// Follows QNetworkInformation where a backend loads; with none the network counts as
// reachable. Only a definite "disconnected" pauses uploads: a failed upload backs off
// anyway, while a wrong "offline" would hold events back for no reason. Create it on
// the main thread.
std::shared_ptr<TelemetryReachability> makeTelemetryNetworkReachability();

} // namespace varno
