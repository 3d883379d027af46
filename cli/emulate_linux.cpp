// `emulate`: the virtual Tarvonic on real MIDI ports (RtMidi, ALSA or JACK),
// so that the real MIDI path can be tested without the instrument.
//
// The instrument runs in its simulated world as in a dry run, with a virtual
// clock that one pump thread advances in step with real time, a millisecond
// at a time: the instrument's reply delays, late answers and wire times stay
// what they are in the dry run. What arrives on the real input is queued by
// RtMidi's thread and handed to the instrument by the pump thread as whole
// SysEx messages (the host's 128-byte chunks joined again); what the
// instrument answers comes out of its simulated input and leaves on the real
// output. On SIGINT or SIGTERM it prints its counters and the digest of the
// firmware it has written, and ends.
#include <RtMidi.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "cli/firmware_digest.h"
#include "cli/system_platform.h"
#include "cli/transcript.h"
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/virtual_clock.h"
#include "platform/sim/virtual_tarvonic.h"

namespace cli {
namespace {

// One client per direction (RtMidi opens a client for each): the host sees
// "Tarvonic In:MIDI" among its outputs and "Tarvonic Out:MIDI" among its
// inputs under JACK, and the same client names under ALSA.
constexpr const char* EmulatorInClient = "Tarvonic In";
constexpr const char* EmulatorOutClient = "Tarvonic Out";
constexpr const char* EmulatorPort = "MIDI";
constexpr int ReplyBuffers = 4;
constexpr std::size_t ShownBytes = 12;

std::atomic<bool> stopRequested{false};
extern "C" void RequestStop(int) { stopRequested.store(true); }

struct Received {
  std::mutex mutex;
  std::deque<std::vector<unsigned char>> messages;
};

// The instrument's answers, joined from its simulated input's buffers and
// sent on the real output as whole messages.
struct ReplyPath {
  sim::SimMidiDriver* driver = nullptr;
  RtMidiOut* out = nullptr;
  sim::VirtualClock* clock = nullptr;
  std::FILE* log = nullptr;
  std::vector<unsigned char> pending;
  std::uint64_t sent = 0;
};

std::string Shown(std::span<const std::uint8_t> bytes) {
  std::string text = HexBytes(bytes.first(std::min(bytes.size(), ShownBytes)));
  if (bytes.size() > ShownBytes) text += " ...";
  return text;
}

void ReplyCallback(platform::MidiHandle handle, std::uint32_t message, std::uintptr_t instance,
                   std::uintptr_t param1, std::uintptr_t) {
  auto& path = *reinterpret_cast<ReplyPath*>(instance);
  if (message != platform::MimLongData && message != platform::MimLongError) return;
  auto* header = reinterpret_cast<platform::MidiHeader*>(param1);
  const auto* bytes = reinterpret_cast<const unsigned char*>(header->lpData);
  for (std::uint32_t i = 0; i < header->dwBytesRecorded; ++i) {
    if (bytes[i] == 0xF0) path.pending.clear();
    path.pending.push_back(bytes[i]);
    if (bytes[i] == 0xF7 && path.pending.front() == 0xF0) {
      try {
        path.out->sendMessage(&path.pending);
        ++path.sent;
        std::fprintf(path.log, "%u reply %zu bytes: %s\n", path.clock->TickCount(), path.pending.size(),
                     Shown(path.pending).c_str());
      } catch (const RtMidiError& e) {
        std::fprintf(path.log, "%u reply lost: %s\n", path.clock->TickCount(), e.getMessage().c_str());
      }
      path.pending.clear();
    }
  }
  if (header->dwBytesRecorded > 0) path.driver->InAddBuffer(handle, header);
}

}  // namespace

int RunEmulate(const Options& options, const Console& console) {
  if (const std::string unusable = MidiSystemUnusable(options.api); !unusable.empty()) {
    std::fprintf(console.err, MidiSystemErrorFormat, unusable.c_str());
    return ExitFailure;
  }
  const RtMidi::Api api = options.api == MidiApi::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
  std::unique_ptr<RtMidiIn> in;
  std::unique_ptr<RtMidiOut> out;
  Received received;
  try {
    in = std::make_unique<RtMidiIn>(api, EmulatorInClient);
    out = std::make_unique<RtMidiOut>(api, EmulatorOutClient);
    in->ignoreTypes(false, true, true);
    in->setCallback(
        [](double, std::vector<unsigned char>* message, void* data) {
          auto& r = *static_cast<Received*>(data);
          std::lock_guard lock(r.mutex);
          r.messages.push_back(*message);
        },
        &received);
    in->openVirtualPort(EmulatorPort);
    out->openVirtualPort(EmulatorPort);
  } catch (const RtMidiError& e) {
    std::fprintf(console.err, "kelmora-flash: cannot open the emulator's MIDI ports: %s\n",
                 e.getMessage().c_str());
    return ExitFailure;
  }

  sim::VirtualClock clock;
  sim::SimMidiDriver driver(clock);
  driver.AddInput({.name = "Tarvonic answers"});
  driver.AddOutput({.name = "Tarvonic hears"});
  driver.RecordTraffic(false);
  ReplyPath path{&driver, out.get(), &clock, console.out, {}, 0};
  std::array<platform::MidiHeader, ReplyBuffers> headers{};
  std::array<std::array<char, 128>, ReplyBuffers> data{};
  platform::MidiHandle input = nullptr;
  driver.InOpen(&input, 0, ReplyCallback, reinterpret_cast<std::uintptr_t>(&path));
  for (int i = 0; i < ReplyBuffers; ++i) {
    headers[i].lpData = data[i].data();
    headers[i].dwBufferLength = 128;
    driver.InPrepareHeader(input, &headers[i]);
    driver.InAddBuffer(input, &headers[i]);
  }
  driver.InStart(input);

  std::uint64_t heard = 0;
  std::vector<std::uint8_t> firmware;
  sim::TarvonicStats stats;
  {
    sim::VirtualTarvonic tarvonic(driver);
    if (options.faultsGiven) tarvonic.SetFaults(options.faults);

    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::fprintf(console.out, "emulating a Tarvonic V1.90 (device id 0) in its boot loader on %s: "
                 "it hears \"%s:%s\" and answers on \"%s:%s\"; interrupt to end\n",
                 options.api == MidiApi::Jack ? "JACK" : "ALSA", EmulatorInClient, EmulatorPort,
                 EmulatorOutClient, EmulatorPort);
    std::fflush(console.out);

    // The virtual clock follows real time; the instrument hears and answers
    // on this thread only.
    std::vector<unsigned char> joined;
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t virtualMs = 0;
    while (!stopRequested.load()) {
      std::deque<std::vector<unsigned char>> batch;
      {
        std::lock_guard lock(received.mutex);
        batch.swap(received.messages);
      }
      for (const auto& message : batch) {
        for (const unsigned char byte : message) {
          if (byte >= 0xF8) continue;  // real-time bytes do not break a message
          if (byte == 0xF0) joined.clear();
          if (joined.empty() && byte != 0xF0) continue;
          joined.push_back(byte);
          if (byte != 0xF7) continue;
          ++heard;
          std::fprintf(console.out, "%u heard %zu bytes: %s\n", clock.TickCount(), joined.size(),
                       Shown(joined).c_str());
          tarvonic.OnSysEx(0, joined, clock.TickCount());
          joined.clear();
        }
      }
      const auto due = start + std::chrono::milliseconds(virtualMs + 1);
      std::this_thread::sleep_until(due);
      const auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start).count();
      const auto step = static_cast<std::uint32_t>(std::max<std::int64_t>(1, real - static_cast<std::int64_t>(virtualMs)));
      clock.Sleep(step);
      virtualMs += step;
      std::fflush(console.out);
    }
    firmware = tarvonic.Firmware();
    stats = tarvonic.Stats();
  }
  driver.InReset(input);
  driver.InClose(input);
  std::fprintf(console.out,
               "messages heard: %llu, replies sent: %llu, packets: %u, accepted: %u, resynchronisations: %u, "
               "checksum errors: %u\n",
               static_cast<unsigned long long>(heard), static_cast<unsigned long long>(path.sent),
               stats.packets, stats.accepted, stats.resyncsAnswered, stats.checksumErrors);
  std::fprintf(console.out, "firmware: %zu bytes %s\n", firmware.size(), FirmwareDigest(firmware).c_str());
  std::fflush(console.out);
  return ExitSuccess;
}

}  // namespace cli
