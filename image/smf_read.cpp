#include "image/smf_read.h"

#include <algorithm>

namespace image {

bool ReadVarLen(std::span<const std::uint8_t> bytes, std::size_t& offset, std::uint32_t& value) {
  std::uint32_t accumulated = 0;
  for (std::size_t at = offset; at < bytes.size(); ++at) {
    const std::uint8_t byte = bytes[at];
    accumulated = (accumulated << 7) | (byte & 0x7Fu);
    if ((byte & 0x80u) == 0) {
      offset = at + 1;
      value = accumulated;
      return true;
    }
  }
  return false;
}

std::uint32_t ReadBE32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

std::uint16_t ReadBE16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

void CopyBounded(std::span<char> destination, std::span<const std::uint8_t> source) {
  if (destination.empty()) return;
  const std::size_t count = std::min(source.size(), destination.size() - 1);
  for (std::size_t i = 0; i < count; ++i) destination[i] = static_cast<char>(source[i]);
  destination[count] = '\0';
}

}  // namespace image
