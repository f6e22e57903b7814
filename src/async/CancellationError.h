// SPDX-License-Identifier: MIT
#pragma once

#include <stdexcept>

namespace varno {

// Thrown when the task that asked for a result was cancelled before it got it.
class CancellationError : public std::runtime_error {
public:
    CancellationError() : std::runtime_error("The operation was cancelled.") {}
};

} // namespace varno
