// The computer's own MIDI system and clock for the command line: RtMidi
// (ALSA or JACK) and the steady clock on Linux, winmm and the Win32 clock on
// Windows.
#pragma once

#include <memory>
#include <string>

#include "cli/options.h"
#include "platform/clock.h"
#include "platform/midi_driver.h"
#include "platform/services.h"

namespace cli {

// None, with the reason in `error`, when the MIDI system cannot be used.
std::unique_ptr<platform::MidiDriver> MakeSystemMidiDriver(MidiApi api, std::string& error);
std::unique_ptr<platform::Clock> MakeSystemClock();
platform::ModuleHandle SystemModule();

}  // namespace cli
