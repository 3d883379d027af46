#include "platform/rtmidi/midi_system_check.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <cerrno>

namespace rtmidi {
namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void QuietJack(const char*) {}

constexpr char CheckClientName[] = "kelmora-flash-check";

// What libjack's own documentation says of each bit of a jack_status_t.
struct JackStatusBit {
  unsigned bit;
  const char* name;
  const char* words;
};
constexpr JackStatusBit JackStatusBits[] = {
    {JackInvalidOption, "JackInvalidOption", "an invalid or unsupported option"},
    {JackNameNotUnique, "JackNameNotUnique", "the client name is taken"},
    {JackServerStarted, "JackServerStarted", "the server was started for the client"},
    {JackServerFailed, "JackServerFailed", "unable to connect to the server"},
    {JackServerError, "JackServerError", "communication error with the server"},
    {JackNoSuchClient, "JackNoSuchClient", "no such client"},
    {JackLoadFailure, "JackLoadFailure", "unable to load the internal client"},
    {JackInitFailure, "JackInitFailure", "unable to initialise the client"},
    {JackShmFailure, "JackShmFailure", "unable to access shared memory"},
    {JackVersionError, "JackVersionError", "the client's protocol version does not match the server's"},
    {JackBackendError, "JackBackendError", "back-end error"},
    {JackClientZombie, "JackClientZombie", "the client was zombified"},
};

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
  detail = JackStatusWords(status);
  // What libjack reports when nothing listens where the server would: every
  // other status means a server that is there and did not take the client.
  return status == (JackFailure | JackServerFailed) ? MidiSystemProblem::NoJackServer
                                                     : MidiSystemProblem::JackClientRefused;
}

std::string JackStatusWords(unsigned status) {
  std::string words;
  for (const JackStatusBit& bit : JackStatusBits) {
    if ((status & bit.bit) == 0) continue;
    if (!words.empty()) words += ", ";
    words = words + bit.name + " (" + bit.words + ")";
  }
  return words.empty() ? "no reason given (status " + std::to_string(status) + ")" : words;
}

}  // namespace rtmidi
