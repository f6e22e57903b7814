// SPDX-License-Identifier: MIT
#pragma once

#include "Accounts.h"

#include <QString>

#include <string>
#include <vector>

namespace varno::devserver {

// The HTML page that stands in for GitHub's sign-in: one button per account, each
// coming back to this page with &account=<id>, and a button that cancels.
std::string renderSignInPage(const std::vector<Account>& accounts, const QString& challenge,
                             const QString& state);

// varno://auth/callback?state=S&code=C (or &error=E instead of the code).
QString callbackUrl(const QString& state, const QString& key, const QString& value);

} // namespace varno::devserver
