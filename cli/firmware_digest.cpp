#include "cli/firmware_digest.h"

#include <cstdio>

#include "image/firmware_image.h"

namespace cli {

std::string FirmwareDigest(std::span<const std::uint8_t> firmware) {
  char text[32];
  std::snprintf(text, sizeof text, "fnv1a64:%016llX",
                static_cast<unsigned long long>(image::Fnv1a64(firmware)));
  return text;
}

}  // namespace cli
