// The real-time benchmark of the command line: kelmora-flash flashes the
// embedded image over a private JACK server (dummy back end) into
// `kelmora-flash emulate`, in real time. From the flasher's transcript it
// works out the protocol's own minimum for the same run (the pacing pause
// after every chunk, the polling steps each answer needed as it arrived, the
// status texts' holds) and prints the wall time against it, their ratio, and
// the CPU time of both processes. A run takes a few minutes.
//
//   kf-cli-jack-bench [--image FILE] [--faults SPEC]
//   kf-cli-jack-bench --transcript FILE   the same figures for a flash run
//       elsewhere: tools/run-bench has the Windows kelmora-flash.exe flash
//       under Wine, through the MIDI driver for Wine, and hands its
//       transcript here
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/firmware_digest.h"
#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "midi/sysex_output.h"
#include "platform/firmware_resource.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"
#include "tests/cli/transcript_reader.h"

using namespace image;
using namespace midi;
using namespace emulator;

namespace {

constexpr std::size_t ProbeRounds = 50;
constexpr std::int64_t ProbeStepMs = 50;
constexpr std::int64_t ProbeBudgetMs = 100;
constexpr std::int64_t ReplyStepMs = 20;
constexpr std::int64_t StatusHoldMs = 200;

struct Minimum {
  std::size_t messages = 0;
  std::int64_t pacingMs = 0;
  std::int64_t probeWaitMs = 0;
  std::int64_t pollMs = 0;
  std::int64_t holdMs = 0;
  std::int64_t beyondMs = 0;  // waits the protocol does not ask for
  std::int64_t measuredMs = 0;  // first probe to the final box
  std::size_t unanswered = 0;  // sent again after the reply budget ran out
  std::int64_t Total() const { return pacingMs + probeWaitMs + pollMs + holdMs; }
};

bool IsStatusReply(const std::vector<std::uint8_t>& b) {
  return b.size() == 11 && b[0] == 0xF0 && b[1] == 0x00 && b[2] == 0x6D && b[3] == 0x1C && b[5] == 0x41 &&
         b[6] == 0x40;
}

// The upload proper: from the first probe (the third message, after the
// scan's and the state request) to the box that ends it.
Minimum ProtocolMinimum(const std::vector<cli_test::TranscriptEvent>& events) {
  Minimum m;
  std::vector<std::int64_t> sends, pauses, replies, texts;
  std::int64_t end = 0;
  std::size_t message = 0;
  bool counting = false;
  for (const auto& e : events) {
    if (e.kind == "OUT") {
      if (!e.bytes.empty() && e.bytes.front() == 0xF0) {
        ++message;
        counting = message > 2;
        if (counting) {
          sends.push_back(e.ms);
          pauses.push_back(0);
          replies.push_back(-1);
        }
      }
      if (counting) pauses.back() += static_cast<std::int64_t>(e.bytes.size() / SendPaceBytesPerMs + SendPaceBaseMs);
    } else if (e.kind == "IN" && counting && IsStatusReply(e.bytes)) {
      if (replies.back() < 0) replies.back() = e.ms;
    } else if (e.kind == "TEXT" && counting) {
      texts.push_back(e.ms);
    } else if (e.kind == "BOX" && counting) {
      end = e.ms;
    }
  }
  m.messages = sends.size();
  if (sends.empty()) return m;
  m.measuredMs = end - sends.front();
  for (std::size_t i = 0; i < sends.size(); ++i) {
    m.pacingMs += pauses[i];
    const std::int64_t ready = sends[i] + pauses[i];
    const bool probe = i < ProbeRounds;
    const std::int64_t step = probe ? ProbeStepMs : ReplyStepMs;
    std::int64_t wait = replies[i] > ready ? (replies[i] - ready + step - 1) / step * step : 0;
    if (probe && wait > ProbeBudgetMs) wait = ProbeBudgetMs;
    (probe ? m.probeWaitMs : m.pollMs) += wait;
    const std::int64_t next = i + 1 < sends.size() ? sends[i + 1] : end;
    const std::int64_t gap = next - (ready + wait);
    if (gap <= 0) continue;
    // A message that got no answer (lost on the way: the engine waited out
    // its budget and sent it again) is time beyond the minimum; otherwise a
    // status text shown in the gap may have waited for the last one's hold.
    std::int64_t hold = 0;
    if (replies[i] >= 0) {
      for (const std::int64_t t : texts) {
        if (t > ready + wait && t <= next) hold = std::min(gap, StatusHoldMs);
      }
    } else {
      ++m.unanswered;
    }
    m.holdMs += hold;
    m.beyondMs += gap - hold;
  }
  return m;
}

// The upload's wall time against the minimum, its parts and their ratio.
void PrintMinimum(const Minimum& m) {
  auto s = [](std::int64_t ms) { return static_cast<double>(ms) / 1000; };
  std::printf("  %zu messages from the first probe on, %zu of them unanswered and sent again\n"
              "  upload wall time (first probe to the final box) %.3f s, the protocol's own minimum %.3f s:\n"
              "    pacing pauses %.3f s, probe-phase waits %.3f s, reply polling %.3f s, text holds %.3f s;"
              " waits beyond it %.3f s\n  ratio wall / minimum %.4f (goal: within 2 %% of 1)\n",
              m.messages, m.unanswered, s(m.measuredMs), s(m.Total()), s(m.pacingMs), s(m.probeWaitMs), s(m.pollMs),
              s(m.holdMs), s(m.beyondMs), m.Total() > 0 ? s(m.measuredMs) / s(m.Total()) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  // Only the figures of a flash run elsewhere, from its transcript.
  if (argc == 3 && std::string(argv[1]) == "--transcript") {
    const Minimum m = ProtocolMinimum(cli_test::ReadTranscript(argv[2]).events);
    if (m.messages == 0) {
      std::printf("no upload in %s\n", argv[2]);
      return 1;
    }
    PrintMinimum(m);
    return 0;
  }
  const std::vector<std::string> flashOptions(argv + 1, argv + argc);  // --image FILE, --faults SPEC
  const std::string dir = cli_test::TempPath("jack-bench-" + std::to_string(getpid()) + "-");
  cli_test::JackSession jack = cli_test::StartJackSession(KF_FLASH_EXE, dir);
  if (!jack.failure.empty()) {
    std::printf("JACK benchmark not run: %s\n", jack.failure.c_str());
    return 1;
  }
  const std::string transcript = dir + "transcript.txt";
  std::vector<std::string> arguments = {KF_FLASH_EXE, "--api", "jack", "--transcript", transcript};
  arguments.insert(arguments.end(), flashOptions.begin(), flashOptions.end());
  // The embedded image is the development image unless the build says
  // otherwise, and the emulator's ports are real ones.
  arguments.insert(arguments.end(), {"flash", "--yes", "--allow-development-image"});
  std::printf("Flashing in real time over JACK (dummy back end) into kelmora-flash emulate...\n");
  std::fflush(stdout);
  const auto start = cli_test::SteadyClock::now();
  cli_test::Child flasher(arguments, dir + "flasher.log");
  const int code = flasher.Wait(std::chrono::minutes(15));
  const double wallS = std::chrono::duration<double>(cli_test::SteadyClock::now() - start).count();
  if (code < 0) flasher.Kill(SIGKILL, std::chrono::milliseconds(0));
  jack.emulator->Kill(SIGINT, std::chrono::seconds(10));
  jack.jackd->Kill(SIGTERM, std::chrono::seconds(10));

  const Minimum m = ProtocolMinimum(cli_test::ReadTranscript(transcript).events);
  std::string digestNote = "(an --image run: compare the emulator's digest yourself)";
  bool identical = false;
  if (flashOptions.empty()) {
    FirmwareImage image;
    if (ReadFirmwareImage(platform::FindFirmwareResource(nullptr), image)) {
      const auto plain = emulator::PlainFirmwareOfTrack(TrackBytes(image));
      identical = jack.emulator->Output().find(cli::FirmwareDigest(plain)) != std::string::npos;
      digestNote = identical ? "identical to the image's plain firmware" : "DIFFERENT from the image's plain firmware";
    }
  }
  std::printf("  flasher exit code %d, emulator firmware %s\n", code, digestNote.c_str());
  PrintMinimum(m);
  std::printf("  whole flasher run %.3f s wall; CPU time: flasher %.3f s, emulator %.3f s\n", wallS,
              flasher.CpuSeconds(), jack.emulator->CpuSeconds());
  return code == 0 && (identical || !flashOptions.empty()) ? 0 : 1;
}
