// Builds without a resource compiler (Linux) carry the firmware image as an
// array that the build generates from KF_FIRMWARE_IMAGE. The module handle
// plays no part here.
#include "platform/firmware_resource.h"

extern const std::uint8_t EmbeddedFirmwareImage[];
extern const std::size_t EmbeddedFirmwareImageSize;

namespace platform {

std::span<const std::uint8_t> FindFirmwareResource(ModuleHandle) {
  if (EmbeddedFirmwareImageSize == 0) return {};
  return {EmbeddedFirmwareImage, EmbeddedFirmwareImageSize};
}

}  // namespace platform
