// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryReachability.h"

#include <QNetworkInformation>

namespace varno {

TelemetryManualReachability::TelemetryManualReachability(Connection initial, QObject* parent)
    : TelemetryReachability(parent), connection_(initial) {}

void TelemetryManualReachability::setConnection(Connection connection) {
    connection_.store(connection);
    if (connection == Connection::none)
        emit unreachable();
    else
        emit reachable(connection);
}

namespace {

class NetworkInformationReachability : public TelemetryReachability {
public:
    explicit NetworkInformationReachability(QNetworkInformation* information)
        : information_(information) {
        connect(information_, &QNetworkInformation::reachabilityChanged, this,
                [this] { announce(); });
        connect(information_, &QNetworkInformation::transportMediumChanged, this, [this] {
            if (connection() != Connection::none)
                announce();
        });
    }

    Connection connection() const override {
        if (information_->reachability() == QNetworkInformation::Reachability::Disconnected)
            return Connection::none;
        return information_->transportMedium() == QNetworkInformation::TransportMedium::Cellular
                   ? Connection::cellular
                   : Connection::wifi;
    }

private:
    void announce() {
        const Connection current = connection();
        if (current == Connection::none)
            emit unreachable();
        else
            emit reachable(current);
    }

    QNetworkInformation* information_;
};

} // namespace

std::shared_ptr<TelemetryReachability> makeTelemetryNetworkReachability() {
    if (QNetworkInformation::loadDefaultBackend() && QNetworkInformation::instance())
        return std::make_shared<NetworkInformationReachability>(QNetworkInformation::instance());
    return std::make_shared<TelemetryManualReachability>(TelemetryReachability::Connection::wifi);
}

} // namespace varno
