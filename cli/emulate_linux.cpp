// `emulate`: the virtual Tarvonic on real MIDI ports (RtMidi, ALSA or JACK),
// so that the real MIDI path can be tested without the instrument.
//
// The instrument runs on the real clock (emulator/real_time_instrument.h):
// what arrives on the real input is handed to it as RtMidi delivers it, and
// each message it answers leaves on the real output whole. Both are printed.
// On SIGINT or SIGTERM it prints its counters and the digest of the firmware
// it has written, and ends.
#include <RtMidi.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/firmware_digest.h"
#include "cli/system_platform.h"
#include "emulator/real_time_instrument.h"
#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "platform/firmware_resource.h"
#include "session/image_report.h"
#include "session/transcript.h"
#include "texts/user_texts.h"

namespace cli {
namespace {

// One client per direction (RtMidi opens a client for each): the host sees
// "Tarvonic In:MIDI" among its outputs and "Tarvonic Out:MIDI" among its
// inputs under JACK, and the same client names under ALSA.
constexpr const char* EmulatorInClient = "Tarvonic In";
constexpr const char* EmulatorOutClient = "Tarvonic Out";
constexpr const char* EmulatorPort = "MIDI";
constexpr std::size_t ShownBytes = 12;
constexpr auto StopPoll = std::chrono::milliseconds(10);

std::atomic<bool> stopRequested{false};
extern "C" void RequestStop(int) { stopRequested.store(true); }

std::string Shown(std::span<const std::uint8_t> bytes) {
  std::string text = session::HexBytes(bytes.first(std::min(bytes.size(), ShownBytes)));
  if (bytes.size() > ShownBytes) text += " ...";
  return text;
}

// What a complete upload leaves in the instrument: the plain firmware of the
// image the host flashes (--image, or the embedded one).
bool ExpectedFirmware(const Options& options, const Console& console, std::vector<std::uint8_t>& plain) {
  std::vector<std::uint8_t> bytes;
  std::span<const std::uint8_t> file = platform::FindFirmwareResource(nullptr);
  if (!options.image.empty()) {
    std::string error;
    if (!session::ReadWholeFile(options.image, bytes, error)) {
      std::fprintf(console.err, "kelmora-flash: cannot read %s\n", error.c_str());
      return false;
    }
    file = bytes;
  }
  image::FirmwareImage image;
  if (!image::ReadFirmwareImage(file, image)) {
    std::fprintf(console.err, "kelmora-flash: %s is not a valid firmware image\n", options.image.c_str());
    return false;
  }
  plain = emulator::PlainFirmwareOfTrack(image::TrackBytes(image));
  return true;
}

}  // namespace

int RunEmulate(const Options& options, const Console& console) {
  std::vector<std::uint8_t> expected;
  if (!ExpectedFirmware(options, console, expected)) return ExitFailure;
  if (const std::string unusable = MidiSystemUnusable(options.api); !unusable.empty()) {
    std::fprintf(console.err, MidiSystemErrorFormat, unusable.c_str());
    return ExitFailure;
  }
  const RtMidi::Api api = options.api == MidiApi::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
  std::unique_ptr<RtMidiIn> in;
  std::unique_ptr<RtMidiOut> out;
  try {
    in = std::make_unique<RtMidiIn>(api, EmulatorInClient);
    out = std::make_unique<RtMidiOut>(api, EmulatorOutClient);
  } catch (const RtMidiError& e) {
    std::fprintf(console.err, "kelmora-flash: cannot open the emulator's MIDI ports: %s\n",
                 e.getMessage().c_str());
    return ExitFailure;
  }

  // Replies are sent on the instrument's pump thread only.
  std::uint64_t sent = 0;
  std::vector<unsigned char> reply;
  emulator::InstrumentSetup setup;
  if (options.faultsGiven) setup.faults = options.faults;
  setup.heard = [&](std::span<const std::uint8_t> message, std::uint32_t at) {
    std::fprintf(console.out, "%u heard %zu bytes: %s\n", at, message.size(), Shown(message).c_str());
    std::fflush(console.out);
  };
  setup.answer = [&](std::span<const std::uint8_t> message, std::uint32_t at) {
    reply.assign(message.begin(), message.end());
    try {
      out->sendMessage(&reply);
      ++sent;
      std::fprintf(console.out, "%u reply %zu bytes: %s\n", at, message.size(), Shown(message).c_str());
    } catch (const RtMidiError& e) {
      std::fprintf(console.out, "%u reply lost: %s\n", at, e.getMessage().c_str());
    }
    std::fflush(console.out);
  };
  emulator::RealTimeInstrument instrument(std::move(setup));

  try {
    in->ignoreTypes(false, true, true);
    in->setCallback(
        [](double, std::vector<unsigned char>* message, void* data) {
          static_cast<emulator::RealTimeInstrument*>(data)->Hear(*message);
        },
        &instrument);
    in->openVirtualPort(EmulatorPort);
    out->openVirtualPort(EmulatorPort);
  } catch (const RtMidiError& e) {
    in.reset();  // its thread must not hand over bytes to an instrument that is going
    std::fprintf(console.err, "kelmora-flash: cannot open the emulator's MIDI ports: %s\n",
                 e.getMessage().c_str());
    return ExitFailure;
  }

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  std::fprintf(console.out, "emulating a Tarvonic V1.90 (device id 0) in its boot loader on %s: "
               "it hears \"%s:%s\" and answers on \"%s:%s\"; interrupt to end\n",
               options.api == MidiApi::Jack ? "JACK" : "ALSA", EmulatorInClient, EmulatorPort,
               EmulatorOutClient, EmulatorPort);
  std::fflush(console.out);
  while (!stopRequested.load()) std::this_thread::sleep_for(StopPoll);

  // RtMidi's thread must not hand over bytes to an instrument that is gone.
  in->cancelCallback();
  instrument.Stop();
  const std::vector<std::uint8_t> firmware = instrument.Firmware();
  const emulator::TarvonicStats stats = instrument.Stats();
  std::fprintf(console.out,
               "messages heard: %llu, replies sent: %llu, packets: %u, accepted: %u, resynchronisations: %u, "
               "checksum errors: %u\n",
               static_cast<unsigned long long>(instrument.MessagesHeard()),
               static_cast<unsigned long long>(sent), stats.packets, stats.accepted, stats.resyncsAnswered,
               stats.checksumErrors);
  std::fprintf(console.out, "firmware: %zu bytes %s\n", firmware.size(), FirmwareDigest(firmware).c_str());
  std::fflush(console.out);
  // Nothing written: nobody flashed it. Anything written must be the image.
  if (!firmware.empty() && firmware != expected) {
    std::fprintf(console.err, "kelmora-flash: %s\n", texts::EmulatedFirmwareWrongText);
    return ExitFailure;
  }
  return ExitSuccess;
}

}  // namespace cli
