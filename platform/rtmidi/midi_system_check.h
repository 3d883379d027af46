// Whether the MIDI system RtMidi is about to use is there at all, asked of
// the ALSA library and libjack themselves. Both print their failures to
// standard error, and RtMidi prints its own while it is being constructed,
// before an error callback can be set: without this check a user with no
// ALSA sequencer would read three libraries' lines before the program's own.
#pragma once

#include <string>

#include "platform/rtmidi/rtmidi_driver.h"

namespace rtmidi {

enum class MidiSystemProblem {
  None,
  NoAlsaSequencer,        // no sequencer device: the kernel module is not loaded
  AlsaSequencerUnusable,  // there, but it cannot be opened (permissions, configuration)
  NoJackServer,           // libjack found no server to connect to
  JackClientRefused,      // there is one, but the client could not be opened
};

// Turns the ALSA library's and libjack's own printing off for the rest of the
// process, then opens and closes a client of the system `api` names. On a
// problem `detail` gets the library's reason: for JACK, the status bits of
// jack_client_open, each named and said in words.
MidiSystemProblem CheckMidiSystem(Api api, std::string& detail);

// "JackServerError (communication error with the server), ...": every bit of
// a jack_client_open status but the overall JackFailure.
std::string JackStatusWords(unsigned status);

}  // namespace rtmidi
