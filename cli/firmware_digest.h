// A short fingerprint of a firmware, printed by the dry run and by the
// emulator so that a test (or a person) can compare two runs' firmware
// without the bytes: the length and a 64-bit FNV-1a hash.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cli {

// "fnv1a64:0123456789ABCDEF"
std::string FirmwareDigest(std::span<const std::uint8_t> firmware);

}  // namespace cli
