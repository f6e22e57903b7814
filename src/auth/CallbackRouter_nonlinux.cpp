// SPDX-License-Identifier: MIT
#include "auth/CallbackRouter.h"

#include <QCoreApplication>

namespace varno {

// Outside Linux the application's package (the macOS bundle) declares the scheme;
// nothing to install per user.
SchemeRegistrationOptions SchemeRegistrationOptions::defaults() {
    SchemeRegistrationOptions options;
    options.executable = QCoreApplication::applicationFilePath();
    return options;
}

SchemeRegistration registerSchemeHandler(const SchemeRegistrationOptions&) {
    return {SchemeRegistration::Status::NotNeeded, QString()};
}

} // namespace varno
