#include "platform/Limits.h"

#include <charconv>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace platform {

std::uint64_t LimitFromEnvironment(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr) return fallback;
  const std::string_view value(text);
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end != value.data() + value.size() || number == 0 ||
      number > (std::uint64_t{1} << 48)) {
    return fallback;
  }
  return number;
}

}  // namespace platform
