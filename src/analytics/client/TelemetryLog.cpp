// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryLog.h"

#include <cstdio>

namespace varno {

TelemetryLogger telemetryStdoutLogger(bool enabled) {
    if (!enabled)
        return {};
    return [](const QString& line) {
        const QByteArray text = line.toUtf8();
        std::fprintf(stdout, "%s\n", text.constData());
        std::fflush(stdout);
    };
}

void telemetryLog(const TelemetryLogger& logger, const QString& message) {
    if (!logger)
        return;
    static const QString prefix = QStringLiteral("[Telemetry] ");
    logger(message.startsWith(prefix) ? message : prefix + message);
}

} // namespace varno
