// A MIDI driver that hands every operation to another one and writes what
// crosses it into the transcript: each long message the driver accepted (OUT)
// and each input buffer it handed back with bytes in it (IN), under the name
// of the port. Buffers that come back empty (an input's reset at shutdown)
// carry nothing and are left out.
//
// Nothing of it runs in a driver's callback, which may only queue and
// signal (docs/architecture.md): the callbacks go to the transport
// untouched, and an input buffer is written when the transport's dispatcher
// thread releases it from the driver (InUnprepareHeader), which it does for
// every buffer handed back, in the order they came, before any listener sees
// it.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/midi_driver.h"
#include "session/transcript.h"

namespace session {

class TranscriptMidiDriver final : public platform::MidiDriver {
 public:
  TranscriptMidiDriver(platform::MidiDriver& inner, Transcript& transcript)
      : inner_(inner), transcript_(transcript) {}

  std::uint32_t InGetNumDevs() override { return inner_.InGetNumDevs(); }
  std::uint32_t OutGetNumDevs() override { return inner_.OutGetNumDevs(); }
  std::uint32_t InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) override {
    return inner_.InGetDevCaps(index, caps);
  }
  std::uint32_t OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) override {
    return inner_.OutGetDevCaps(index, caps);
  }
  std::uint32_t InOpen(platform::MidiHandle* handle, std::uint32_t index,
                       platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t InPrepareHeader(platform::MidiHandle h, platform::MidiHeader* header) override {
    return inner_.InPrepareHeader(h, header);
  }
  std::uint32_t InUnprepareHeader(platform::MidiHandle h, platform::MidiHeader* header) override;
  std::uint32_t InAddBuffer(platform::MidiHandle h, platform::MidiHeader* header) override {
    return inner_.InAddBuffer(h, header);
  }
  std::uint32_t InStart(platform::MidiHandle h) override { return inner_.InStart(h); }
  std::uint32_t InStop(platform::MidiHandle h) override { return inner_.InStop(h); }
  std::uint32_t InReset(platform::MidiHandle h) override { return inner_.InReset(h); }
  std::uint32_t InClose(platform::MidiHandle h) override { return inner_.InClose(h); }
  std::uint32_t OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                        platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t OutPrepareHeader(platform::MidiHandle h, platform::MidiHeader* header) override {
    return inner_.OutPrepareHeader(h, header);
  }
  std::uint32_t OutUnprepareHeader(platform::MidiHandle h, platform::MidiHeader* header) override {
    return inner_.OutUnprepareHeader(h, header);
  }
  std::uint32_t OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutReset(platform::MidiHandle h) override { return inner_.OutReset(h); }
  std::uint32_t OutClose(platform::MidiHandle h) override;

 private:
  std::string NameOf(const std::map<platform::MidiHandle, std::string>& names, platform::MidiHandle handle);

  platform::MidiDriver& inner_;
  Transcript& transcript_;
  std::mutex mutex_;  // the two members below
  // Inputs are kept until the driver goes: a buffer released after the close
  // still names its port.
  std::map<platform::MidiHandle, std::string> inputNames_;
  std::map<platform::MidiHandle, std::string> outputNames_;
};

}  // namespace session
