// The firmware image is resource type "MIDIFILE", id 108, of the program's own
// module. The resource stays loaded for the life of the process, so the span
// may be kept.
#include <windows.h>

#include "platform/firmware_resource.h"

namespace platform {

std::span<const std::uint8_t> FindFirmwareResource(ModuleHandle module) {
  auto instance = static_cast<HMODULE>(module);
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(108), "MIDIFILE");
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(instance, found);
  if (loaded == nullptr) return {};
  const void* bytes = LockResource(loaded);
  DWORD size = SizeofResource(instance, found);
  if (bytes == nullptr || size == 0) return {};
  return {static_cast<const std::uint8_t*>(bytes), size};
}

}  // namespace platform
