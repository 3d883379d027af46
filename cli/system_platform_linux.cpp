#include "cli/system_platform.h"
#include "platform/real_clock.h"
#include "platform/rtmidi/midi_system_check.h"
#include "platform/rtmidi/rtmidi_driver.h"

namespace cli {
namespace {

rtmidi::Api ToRtMidi(MidiApi api) { return api == MidiApi::Jack ? rtmidi::Api::Jack : rtmidi::Api::Alsa; }

}  // namespace

std::string MidiSystemUnusable(MidiApi api) {
  std::string detail;
  switch (rtmidi::CheckMidiSystem(ToRtMidi(api), detail)) {
    case rtmidi::MidiSystemProblem::None:
      return {};
    case rtmidi::MidiSystemProblem::NoAlsaSequencer:
      return "no ALSA sequencer here (/dev/snd/seq is missing); load the snd-seq kernel module "
             "(modprobe snd-seq), or use --api jack or --virtual";
    case rtmidi::MidiSystemProblem::AlsaSequencerUnusable:
      return "the ALSA sequencer cannot be opened (" + detail +
             "); check the access to /dev/snd/seq, or use --api jack or --virtual";
    case rtmidi::MidiSystemProblem::NoJackServer:
      return "no JACK server is running; start one (e.g. jackd -d alsa), or leave out --api jack "
             "to use the ALSA sequencer, or use --virtual";
    case rtmidi::MidiSystemProblem::JackClientRefused:
      return "the JACK server refused the client: " + detail +
             "; see the server's own messages, or leave out --api jack to use the ALSA sequencer, or use --virtual";
  }
  return "unknown MIDI system";
}

std::unique_ptr<platform::MidiDriver> MakeSystemMidiDriver(MidiApi api, std::string& error) {
  error = MidiSystemUnusable(api);
  if (!error.empty()) return nullptr;
  return rtmidi::RtMidiDriver::Create(ToRtMidi(api), "kelmora-flash", error);
}

std::unique_ptr<platform::Clock> MakeSystemClock() {
  return std::make_unique<platform::RealClock>();
}

platform::ModuleHandle SystemModule() { return nullptr; }

}  // namespace cli
