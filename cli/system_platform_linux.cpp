#include "cli/system_platform.h"
#include "platform/real_clock.h"
#include "platform/rtmidi/rtmidi_driver.h"

namespace cli {

std::unique_ptr<platform::MidiDriver> MakeSystemMidiDriver(MidiApi api, std::string& error) {
  return rtmidi::RtMidiDriver::Create(api == MidiApi::Jack ? rtmidi::Api::Jack : rtmidi::Api::Alsa,
                                      "kelmora-flash", error);
}

std::unique_ptr<platform::Clock> MakeSystemClock() {
  return std::make_unique<platform::RealClock>();
}

platform::ModuleHandle SystemModule() { return nullptr; }

}  // namespace cli
