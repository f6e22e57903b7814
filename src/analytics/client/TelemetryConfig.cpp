// SPDX-License-Identifier: MIT
#include "analytics/client/TelemetryConfig.h"

namespace varno {

TelemetryConfig::TelemetryConfig(QString projectToken_, QString host_)
    : projectToken(projectToken_.trimmed()) {
    const QString trimmedHost = host_.trimmed();
    QUrl parsed(trimmedHost, QUrl::StrictMode);
    // A usable host names a scheme and a server; anything else would only fail later.
    if (trimmedHost.isEmpty() || !parsed.isValid() || parsed.scheme().isEmpty() ||
        parsed.host().isEmpty())
        parsed = QUrl(QString::fromLatin1(defaultHost));
    host = parsed;
}

} // namespace varno
