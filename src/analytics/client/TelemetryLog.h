// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <functional>

namespace varno {

// Receives the client's debug lines, already prefixed "[Telemetry] ".
using TelemetryLogger = std::function<void(const QString& line)>;

// Prints to standard output when enabled, and does nothing otherwise.
TelemetryLogger telemetryStdoutLogger(bool enabled);

// Sends message to the logger, adding the prefix unless the message has it.
void telemetryLog(const TelemetryLogger& logger, const QString& message);

} // namespace varno
