#include "session/transcript_driver.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace session {
namespace {

template <typename Caps>
std::string CapsName(const Caps& caps) {
  return std::string(caps.szPname, strnlen(caps.szPname, sizeof caps.szPname));
}

}  // namespace

std::uint32_t TranscriptMidiDriver::InOpen(platform::MidiHandle* handle, std::uint32_t index,
                                           platform::MidiCallback callback, std::uintptr_t instance) {
  platform::MidiInCaps caps{};
  inner_.InGetDevCaps(index, &caps);
  auto input = std::make_unique<Input>(Input{this, CapsName(caps), callback, instance});
  const std::uint32_t result =
      inner_.InOpen(handle, index, InputTrampoline, reinterpret_cast<std::uintptr_t>(input.get()));
  if (result == 0) {
    std::lock_guard lock(mutex_);
    inputs_.push_back(std::move(input));
  }
  return result;
}

void KF_CALLBACK TranscriptMidiDriver::InputTrampoline(platform::MidiHandle handle,
                                                       std::uint32_t message, std::uintptr_t instance,
                                                       std::uintptr_t param1, std::uintptr_t param2) {
  const Input& input = *reinterpret_cast<const Input*>(instance);
  if (message == platform::MimLongData || message == platform::MimLongError) {
    const auto* header = reinterpret_cast<const platform::MidiHeader*>(param1);
    if (header != nullptr && header->dwBytesRecorded > 0 &&
        header->dwBytesRecorded <= header->dwBufferLength) {
      input.driver->transcript_.In(
          input.name, std::span(reinterpret_cast<const std::uint8_t*>(header->lpData),
                                header->dwBytesRecorded));
    }
  }
  input.callback(handle, message, input.instance, param1, param2);
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
  std::string name;
  {
    std::lock_guard lock(mutex_);
    const auto found = outputNames_.find(handle);
    if (found != outputNames_.end()) name = found->second;
  }
  // Copied first: once accepted, the buffer belongs to the driver and may
  // come back (and be reused) before the call returns.
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(header->lpData),
                        std::min(header->dwBufferLength, std::uint32_t{128}));
  const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  std::lock_guard lock(transcript_.Lock());
  const std::uint32_t result = inner_.OutLongMsg(handle, header);
  if (result == 0) transcript_.OutLocked(name, copy);
  return result;
}

std::uint32_t TranscriptMidiDriver::OutClose(platform::MidiHandle handle) {
  const std::uint32_t result = inner_.OutClose(handle);
  std::lock_guard lock(mutex_);
  outputNames_.erase(handle);
  return result;
}

}  // namespace session
