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

// How the command line reports a MIDI system it cannot use, with the reason.
inline constexpr char MidiSystemErrorFormat[] = "kelmora-flash: cannot use the MIDI system: %s\n";

// None, with the reason in `error`, when the MIDI system cannot be used.
std::unique_ptr<platform::MidiDriver> MakeSystemMidiDriver(MidiApi api, std::string& error);

#if !defined(_WIN32)
// Empty when the ALSA sequencer or the JACK server that `api` names can be
// used; otherwise one line for the user, saying what is missing and what to
// do instead. The MIDI libraries print nothing of their own afterwards.
std::string MidiSystemUnusable(MidiApi api);
#endif

std::unique_ptr<platform::Clock> MakeSystemClock();
platform::ModuleHandle SystemModule();

}  // namespace cli
