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
#include "texts/user_texts.h"

using namespace image;
using namespace midi;
using namespace emulator;

namespace {

constexpr std::size_t ProbeRounds = 50;
constexpr std::int64_t ProbeStepMs = 50;
constexpr std::int64_t ProbeBudgetMs = 100;
constexpr std::int64_t ReplyStepMs = 20;
constexpr std::int64_t StatusHoldMs = 200;

// The protocol's minimum for the upload, in its parts; the waits beyond it;
// the messages sent, those that got no status reply before the next one
// left, and the packets of the track sent once more (probes not counted).
struct Minimum {
  std::int64_t pacingMs = 0, probeWaitMs = 0, pollMs = 0, holdMs = 0;
  std::int64_t beyondMs = 0, measuredMs = 0;  // waits beyond it; first probe to the final box
  std::size_t messages = 0, unanswered = 0, sentAgain = 0;
  std::int64_t Total() const { return pacingMs + probeWaitMs + pollMs + holdMs; }
};

bool IsStatusReply(const std::vector<std::uint8_t>& b) {
  return b.size() == 11 && b[0] == 0xF0 && b[1] == 0x00 && b[2] == 0x6D && b[3] == 0x1C && b[5] == 0x41 &&
         b[6] == 0x40;
}

// One message to the instrument: when it left, its pacing pauses, when the
// first status reply after it came and with which code, and whether it was
// a probe.
struct Sent {
  std::int64_t at = 0, pauseMs = 0, replyAt = -1;
  std::uint8_t code = 0;
  bool probe = false;
};

// The upload proper: from the first probe (the first message after "Ready to
// begin!" was answered OK) to the box that ends it, on the port the probe
// went to (the scan asked every port; only the instrument sends status
// replies). Probes are told by their bytes, which never change; a packet of
// the track is sent again after an attempt that was not accepted (no reply,
// or a code other than 0 and 3).
Minimum ProtocolMinimum(const std::vector<cli_test::TranscriptEvent>& events) {
  Minimum m;
  std::vector<Sent> sent;
  std::vector<std::int64_t> texts;
  std::int64_t end = 0;
  bool confirmed = false;
  std::string port;
  std::vector<std::uint8_t> probe;
  const std::string readyBox = std::string(texts::ReadyCaption) + " | ";
  for (const auto& e : events) {
    if (!confirmed) {
      confirmed = e.kind == "BOX" && e.rest.starts_with(readyBox) && e.rest.ends_with(" | OK");
    } else if (e.kind == "OUT" && (e.port == port || (port.empty() && e.bytes.front() == 0xF0))) {
      if (port.empty()) {
        port = e.port;
        probe = e.bytes;
      }
      if (e.bytes.front() == 0xF0) sent.push_back({.at = e.ms, .probe = e.bytes == probe});
      sent.back().pauseMs += static_cast<std::int64_t>(e.bytes.size() / SendPaceBytesPerMs + SendPaceBaseMs);
    } else if (e.kind == "IN" && !sent.empty() && IsStatusReply(e.bytes) && sent.back().replyAt < 0) {
      sent.back().replyAt = e.ms;
      sent.back().code = e.bytes[7];
    } else if (e.kind == "TEXT" && !sent.empty()) {
      texts.push_back(e.ms);
    } else if (e.kind == "BOX" && !sent.empty()) {
      end = e.ms;
    }
  }
  m.messages = sent.size();
  if (sent.empty()) return m;
  m.measuredMs = end - sent.front().at;
  bool accepted = true;  // the last attempt at the track's current packet
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const Sent& s = sent[i];
    if (i >= ProbeRounds && !s.probe) {
      if (!accepted) ++m.sentAgain;
      accepted = s.replyAt >= 0 && (s.code == 0 || s.code == 3);
    }
    if (s.replyAt < 0) ++m.unanswered;
    m.pacingMs += s.pauseMs;
    const std::int64_t ready = s.at + s.pauseMs;
    const bool probePhase = i < ProbeRounds;
    const std::int64_t step = probePhase ? ProbeStepMs : ReplyStepMs;
    std::int64_t wait = s.replyAt > ready ? (s.replyAt - ready + step - 1) / step * step : 0;
    if (probePhase && wait > ProbeBudgetMs) wait = ProbeBudgetMs;
    (probePhase ? m.probeWaitMs : m.pollMs) += wait;
    const std::int64_t next = i + 1 < sent.size() ? sent[i + 1].at : end;
    const std::int64_t gap = next - (ready + wait);
    if (gap <= 0) continue;
    // A message that got no answer (the engine waited out its budget) is time
    // beyond the minimum; otherwise a status text shown in the gap may have
    // waited for the last one's hold.
    std::int64_t hold = 0;
    if (s.replyAt >= 0) {
      for (const std::int64_t t : texts) {
        if (t > ready + wait && t <= next) hold = std::min(gap, StatusHoldMs);
      }
    }
    m.holdMs += hold;
    m.beyondMs += gap - hold;
  }
  return m;
}

// The upload's wall time against the minimum, its parts and their ratio.
void PrintMinimum(const Minimum& m) {
  auto s = [](std::int64_t ms) { return static_cast<double>(ms) / 1000; };
  std::printf("  %zu messages from the first probe on: %zu unanswered, %zu packets of the track sent again\n"
              "  upload wall time (first probe to the final box) %.3f s, the protocol's own minimum %.3f s:\n"
              "    pacing pauses %.3f s, probe-phase waits %.3f s, reply polling %.3f s, text holds %.3f s;"
              " waits beyond it %.3f s\n  ratio wall / minimum %.4f (goal: within 2 %% of 1)\n",
              m.messages, m.unanswered, m.sentAgain, s(m.measuredMs), s(m.Total()), s(m.pacingMs), s(m.probeWaitMs), s(m.pollMs),
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
