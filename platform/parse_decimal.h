// A decimal number as std::from_chars reads one ("0.25", "1e-3", "-0"):
// digits, a point and an exponent, no sign but a leading minus, no spaces,
// no hexadecimal. The C++ library of the web build (libc++ 13) has no
// from_chars for floating point, so every reader of a decimal number in the
// portable code (fault rates, world behaviours) uses this instead; strtod
// converts what it lets through, in the "C" locale the programs keep.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

namespace platform {

inline bool ParseDecimal(std::string_view text, double& value) {
  if (text.empty() || text.front() == '+' || text.find_first_not_of("0123456789.eE+-") != std::string_view::npos) {
    return false;
  }
  const std::string terminated(text);
  char* end = nullptr;
  value = std::strtod(terminated.c_str(), &end);
  return end == terminated.c_str() + terminated.size();
}

}  // namespace platform
