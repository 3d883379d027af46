// Kept apart from the reader so that programs and tests that never touch the
// embedded image do not need the platform's resource lookup.
#include "image/firmware_image.h"
#include "platform/firmware_resource.h"

bool LoadFirmwareImage(platform::ModuleHandle module) {
  return LoadFirmwareImage(platform::FindFirmwareResource(module));
}
