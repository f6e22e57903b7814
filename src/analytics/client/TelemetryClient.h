// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/client/TelemetryConfig.h"

#include <QString>
#include <QVariantMap>

namespace varno {

// The operations the application's analytics wrapper needs from the analytics
// client. The real client implements it; tests substitute a recorder.
class TelemetryClient {
public:
    virtual ~TelemetryClient() = default;
    virtual void setup(const TelemetryConfig& config) = 0;
    virtual QString getDistinctId() = 0;
    virtual QString getAnonymousId() = 0;
    virtual void identify(const QString& distinctId, const QVariantMap& userProperties) = 0;
    virtual void reset() = 0;
    virtual void capture(const QString& event, const QVariantMap& properties) = 0;
    virtual void flush() = 0;
};

} // namespace varno
