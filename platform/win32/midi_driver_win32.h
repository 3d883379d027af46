// The MIDI driver seam on winmm: every operation is the winmm function of the
// same name, passed through unchanged.
#pragma once

#include "platform/midi_driver.h"

namespace win32 {

class WinmmMidiDriver final : public platform::MidiDriver {
 public:
  std::uint32_t InGetNumDevs() override;
  std::uint32_t OutGetNumDevs() override;
  std::uint32_t InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) override;
  std::uint32_t OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) override;
  std::uint32_t InOpen(platform::MidiHandle* handle, std::uint32_t index,
                       platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t InPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InAddBuffer(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InStart(platform::MidiHandle handle) override;
  std::uint32_t InStop(platform::MidiHandle handle) override;
  std::uint32_t InReset(platform::MidiHandle handle) override;
  std::uint32_t InClose(platform::MidiHandle handle) override;
  std::uint32_t OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                        platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t OutPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutReset(platform::MidiHandle handle) override;
  std::uint32_t OutClose(platform::MidiHandle handle) override;
};

}  // namespace win32
