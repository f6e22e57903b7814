// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace varno::devserver {

bool looksGzipped(const std::string& bytes);

// Inflates a gzip stream; nothing when it is damaged or would exceed `limit` bytes.
std::optional<std::string> gunzip(const std::string& bytes, std::size_t limit);

} // namespace varno::devserver
