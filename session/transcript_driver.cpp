#include "session/transcript_driver.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace session {
namespace {

template <typename Caps>
std::string CapsName(const Caps& caps) {
  return std::string(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
}

}  // namespace

std::string TranscriptMidiDriver::NameOf(const std::map<platform::MidiHandle, std::string>& names,
                                         platform::MidiHandle handle) {
  std::lock_guard lock(mutex_);
  const auto found = names.find(handle);
  return found != names.end() ? found->second : std::string();
}

std::uint32_t TranscriptMidiDriver::InOpen(platform::MidiHandle* handle, std::uint32_t index,
                                           platform::MidiCallback callback, std::uintptr_t instance) {
  platform::MidiInCaps caps{};
  inner_.InGetDevCaps(index, &caps);
  const std::uint32_t result = inner_.InOpen(handle, index, callback, instance);
  if (result == 0) {
    std::lock_guard lock(mutex_);
    inputNames_[*handle] = CapsName(caps);
  }
  return result;
}

std::uint32_t TranscriptMidiDriver::InUnprepareHeader(platform::MidiHandle handle,
                                                      platform::MidiHeader* header) {
  // A buffer the driver handed back; one that never went to it has nothing
  // recorded.
  const bool filled = header != nullptr && header->dwBytesRecorded > 0 &&
                      header->dwBytesRecorded <= header->dwBufferLength;
  const std::uint32_t result = inner_.InUnprepareHeader(handle, header);
  if (filled) {
    transcript_.In(NameOf(inputNames_, handle),
                   std::span(reinterpret_cast<const std::uint8_t*>(header->lpData), header->dwBytesRecorded));
  }
  return result;
}

std::uint32_t TranscriptMidiDriver::OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                                            platform::MidiCallback callback,
                                            std::uintptr_t instance) {
  platform::MidiOutCaps caps{};
  inner_.OutGetDevCaps(index, &caps);
  const std::uint32_t result = inner_.OutOpen(handle, index, callback, instance);
  if (result == 0) {
    std::lock_guard lock(mutex_);
    outputNames_[*handle] = CapsName(caps);
  }
  return result;
}

std::uint32_t TranscriptMidiDriver::OutLongMsg(platform::MidiHandle handle,
                                               platform::MidiHeader* header) {
  if (header == nullptr || header->lpData == nullptr) return inner_.OutLongMsg(handle, header);
  const std::string name = NameOf(outputNames_, handle);
  // Copied first: once accepted, the buffer belongs to the driver and may
  // come back (and be reused) before the call returns. The transport sends
  // at most 128 bytes at a time.
  std::array<std::uint8_t, 128> copy{};
  const std::size_t length = std::min<std::size_t>(header->dwBufferLength, copy.size());
  std::memcpy(copy.data(), header->lpData, length);
  const std::int32_t at = transcript_.BeginOut();
  const std::uint32_t result = inner_.OutLongMsg(handle, header);
  transcript_.EndOut(at, name, std::span(copy.data(), length), result == 0);
  return result;
}

std::uint32_t TranscriptMidiDriver::OutClose(platform::MidiHandle handle) {
  const std::uint32_t result = inner_.OutClose(handle);
  std::lock_guard lock(mutex_);
  outputNames_.erase(handle);
  return result;
}

}  // namespace session
