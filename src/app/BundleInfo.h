// SPDX-License-Identifier: MIT
#pragma once

#include <QVariantMap>

namespace varno {

// The build's configuration, standing in for a macOS bundle's Info.plist: the
// keys the build set (VarnoServerURL, SUPublicEDKey, VarnoTelemetryProjectToken,
// VarnoTelemetryHost, VarnoTelemetryEnvironment, VarnoWebsiteURL) plus the bundle
// identifier, display name and version keys. Keys the build left empty are absent.
// Code takes the dictionary as a parameter so tests can pass their own.
class BundleInfo {
public:
    static QVariantMap main();
};

} // namespace varno
