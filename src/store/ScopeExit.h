// SPDX-License-Identifier: MIT
#pragma once

#include <utility>

namespace varno {

// Runs an action when the scope ends, on every way out (co_return and throw included).
template <typename F> class ScopeExit {
public:
    explicit ScopeExit(F action) : action_(std::move(action)) {}
    ~ScopeExit() { action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F action_;
};

} // namespace varno
