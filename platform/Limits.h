#pragma once
// Limits that a user can set through the environment, so that a hostile or mistaken file
// cannot exhaust memory or time.

#include <cstdint>

namespace platform {

// The value of the environment variable `name` when it holds a positive decimal number
// (at most 2^48), else `fallback`.
std::uint64_t LimitFromEnvironment(const char* name, std::uint64_t fallback);

// The most text one file may hold, read or written: TANKLOAD_MAX_TEXT_BYTES, 1 GiB by
// default.
inline constexpr std::uint64_t kDefaultMaxTextBytes = std::uint64_t{1} << 30;

}  // namespace platform
