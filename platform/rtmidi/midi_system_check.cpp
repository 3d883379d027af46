#include "platform/rtmidi/midi_system_check.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <cerrno>

namespace rtmidi {
namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

constexpr char CheckClientName[] = "kelmora-flash-check";

}  // namespace

MidiSystemProblem CheckMidiSystem(Api api, std::string& detail) {
  snd_lib_error_set_handler(QuietAlsa);
  jack_set_error_function(QuietJack);
  jack_set_info_function(QuietJack);

  if (api == Api::Alsa) {
    snd_seq_t* sequencer = nullptr;
    const int result = snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (result >= 0) {
      snd_seq_close(sequencer);
      return MidiSystemProblem::None;
    }
    detail = snd_strerror(result);
    return result == -ENOENT ? MidiSystemProblem::NoAlsaSequencer
                             : MidiSystemProblem::AlsaSequencerUnusable;
  }

  // Never start a server: the user's JACK setup is the user's.
  jack_status_t status{};
  jack_client_t* client = jack_client_open(CheckClientName, JackNoStartServer, &status);
  if (client != nullptr) {
    jack_client_close(client);
    return MidiSystemProblem::None;
  }
  detail = (status & JackServerFailed) != 0 ? "no server to connect to" : "the server refused a client";
  return MidiSystemProblem::NoJackServer;
}

}  // namespace rtmidi
