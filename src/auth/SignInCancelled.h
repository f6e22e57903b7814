// SPDX-License-Identifier: MIT
#pragma once

#include <exception>

namespace varno {

// The user gave up on the browser sign-in (closed the wait, pressed Cancel). The
// store treats it as the quiet outcome: no message.
class SignInCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "GitHub sign-in was cancelled."; }
};

} // namespace varno
