// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

namespace varno {

// "Start at Login": whether the desktop starts Varno when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Asked every time the menu opens: the user may have changed it elsewhere.
    virtual bool isEnabled() const = 0;
    // Turns it on or off; throws AppError saying what went wrong.
    virtual void setEnabled(bool enabled) = 0;

    // This platform's login item for the running program; none where the platform
    // has no such service.
    static std::unique_ptr<LoginItem> forThisSystem();
};

} // namespace varno
