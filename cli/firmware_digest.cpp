#include "cli/firmware_digest.h"

#include <cstdio>

namespace cli {

std::string FirmwareDigest(std::span<const std::uint8_t> firmware) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const std::uint8_t byte : firmware) {
    hash ^= byte;
    hash *= 0x100000001B3ull;
  }
  char text[32];
  std::snprintf(text, sizeof text, "fnv1a64:%016llX", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace cli
