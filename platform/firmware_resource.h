// Where the embedded firmware image comes from: the Windows program's own
// resource MIDIFILE 108; on other platforms an array linked into the program.
#pragma once

#include <cstdint>
#include <span>

#include "platform/services.h"

namespace platform {

// The image's bytes, or an empty span when the program carries none.
std::span<const std::uint8_t> FindFirmwareResource(ModuleHandle module);

}  // namespace platform
