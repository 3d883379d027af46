// What no argument can make happen, with the command line's session driven
// by hand: Ctrl-C at a chosen packet (counted as the handler counts it,
// while the virtual Tarvonic hears that packet), real interrupts at the
// terminal's questions (SIGINT on Linux, with the answers coming through a
// pipe; console control events under Wine, with the console as the input,
// which the Windows build's test runs in a pseudo-terminal for), ports that
// cannot be opened, and a cable that corrupts a packet. The transport is
// reset after each session, so the cases may also share a process.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "cli/commands.h"
#include "cli/interrupts.h"
#include "platform/services.h"
#include "platform/sim/sim_midi_driver.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"
#include "texts/user_texts.h"

#if defined(_WIN32)
#include <windows.h>
#undef LoadImage  // Session's, not user32's
#else
#include <unistd.h>
#endif

namespace {

using namespace std::chrono_literals;

// The user at the terminal: types ahead, and presses Ctrl-C. On Windows the
// input is the console, typed into as keys.
struct User {
#if defined(_WIN32)
  HANDLE console = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  std::FILE* input = stdin;
  ~User() { CloseHandle(console); }
  void Type(const std::string& text) {
    std::vector<INPUT_RECORD> keys(2 * text.size(), INPUT_RECORD{KEY_EVENT, {}});
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const char c = text[i / 2];
      const auto key = static_cast<WORD>(c == '\n' ? VK_RETURN : LOBYTE(VkKeyScanA(c)));
      keys[i].Event.KeyEvent = {i % 2 == 0, 1, key, 0, {static_cast<WCHAR>(c == '\n' ? '\r' : c)}, 0};
    }
    DWORD written = 0;
    WriteConsoleInputA(console, keys.data(), static_cast<DWORD>(keys.size()), &written);
  }
  // Ctrl-C only: Wine does not generate Ctrl-Break events.
  void Interrupt() { EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << "no console: run it in a terminal"; }
#else
  int ends[2] = {-1, -1};
  std::FILE* input = pipe(ends) == 0 ? fdopen(ends[0], "r") : nullptr;
  ~User() { close(ends[1]), std::fclose(input); }
  void Type(const std::string& text) { EXPECT_EQ(write(ends[1], text.data(), text.size()), ssize_t(text.size())); }
  // On the watcher's thread: a terminal's SIGINT may land on any thread, and
  // only the handler's wake-up reaches the question then.
  void Interrupt() { raise(SIGINT); }
#endif
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); !part.empty() && at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Without a transcript the driver is the simulated one itself, and a rig
// changes it before the transport starts.
using Rig = std::function<void(cli::Session&, sim::SimMidiDriver&)>;

struct Script {
  std::vector<std::uint32_t> countedAt = {};  // interrupts counted as the instrument hears these packets
  Rig rig = {};
  // The user at a terminal (no --yes): types this ahead, then presses Ctrl-C
  // `interrupts` times, each once `prompt` has been shown once more.
  const char *typed = nullptr, *prompt = "";
  int interrupts = 0;
  std::uint32_t silentFrom = ~0u;  // the instrument answers no packet from this one on
};

struct Flashed {
  int code = -1;
  // The transcript's kinds of events, each followed by a space, and the last
  // box's line (caption | text | answer).
  std::string out, err, kinds, lastBox;
  std::atomic<std::uint32_t> lastHeard{0};  // the last packet the instrument heard
  std::uint32_t heardAtQuestion = 0;       // ... when the prompt was first shown
};

// Packet 1 is the state request, 2 to 51 the probes, then the track's.
void Flash(const Script& script, const std::string& name, Flashed& f) {
  const std::string image = cli_test::TempPath(name + ".mid"), transcript = cli_test::TempPath(name + ".txt"),
                    output = cli_test::TempPath(name + ".out");
  cli_test::WriteFile(image, test_images::ReleaseShape(6));
  std::vector<std::string> args = {"--virtual", "--image", image, "flash"};
  if (script.typed == nullptr) args.push_back("--yes");
  if (!script.rig) args.insert(args.begin(), {"--transcript", transcript});
  cli::Options options;
  cli::ParseCommandLine(args, options);
  User user;
  if (script.typed != nullptr) user.Type(script.typed);
  std::FILE* files[] = {std::fopen(output.c_str(), "w+b"), std::tmpfile()};
  const cli::Console console{user.input, files[0], files[1], false};
  std::atomic<bool> ended{false};
  // Ctrl-C once the prompt is shown, and again each time it is shown anew. A
  // question still waiting after that is answered, so that the run ends and
  // shows what it did.
  std::thread watcher([&] {
    std::size_t pressed = 0;
    for (const auto until = std::chrono::steady_clock::now() + 20s; !ended && std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(10ms)) {
      if (pressed == static_cast<std::size_t>(script.interrupts) || Count(cli_test::ReadAll(output), script.prompt) == pressed)
        continue;
      if (pressed++ == 0) f.heardAtQuestion = f.lastHeard;
      user.Interrupt();
    }
    if (!ended && script.typed != nullptr) user.Type("c\n");
  });
  {
    cli::Session session(options, console);
    EXPECT_TRUE(session.Install());
    if (script.rig) script.rig(session, *static_cast<sim::SimMidiDriver*>(platform::Installed().midi));
    session.Instrument()->SetFaultScript([&](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
      f.lastHeard = p.index;
      if (std::find(script.countedAt.begin(), script.countedAt.end(), p.index) != script.countedAt.end())
        cli::CountInterrupt();
      if (p.index >= script.silentFrom) return emulator::FaultDecision{emulator::PacketFault::Drop};
      return std::nullopt;
    });
    EXPECT_TRUE(session.LoadImage() && session.StartMidi());
    f.code = cli::FlashWithSession(session, options, console);
    ended = true;
  }
  watcher.join();
  transport_testing::ResetTransport();
  f.out = cli_test::ReadAll(files[0]);
  f.err = cli_test::ReadAll(files[1]);
  for (std::FILE* file : files) std::fclose(file);
  const cli_test::TranscriptFile t = cli_test::ReadTranscript(transcript);
  EXPECT_TRUE(t.malformed.empty());
  for (const cli_test::TranscriptEvent& e : t.events) {
    f.kinds += e.kind + " ";
    if (e.kind == "BOX") f.lastBox = e.rest;
  }
}

constexpr const char* Warning = "interrupted. Stopping the upload now leaves the Device in its boot loader";
constexpr const char* Whole = "(equal to the image's plain firmware)";

// Ctrl-C during the upload, between packets (counted as the instrument hears
// them) or at "No Answer from Device": the first warns, the upload goes on
// and the question is asked again; the second stops the upload before the
// next packet and says what to do. At a question before the upload one ends
// the run. A question ended so was not answered, and nothing more is sent.
// The cases share a process: the transport is reset after each.
TEST(FlashByHand, InterruptsAtEachMomentPortsThatCannotBeOpenedAndACorruptingCable) {
  // Swaps two payload bytes of one data packet: the packet's checksum (a sum)
  // cannot see it, the instrument writes what it got, and the host says
  // "Upload Complete". The dry run's own check must fail the run.
  struct SwappingCable final : sim::MidiEndpoint {
    emulator::VirtualTarvonic* tarvonic = nullptr;
    bool swapped = false;
    void OnSysEx(std::uint32_t output, std::span<const std::uint8_t> message, std::uint32_t at) override {
      std::vector<std::uint8_t> bytes(message.begin(), message.end());
      if (!swapped && bytes.size() > 11 && bytes[6] == 0x3B && bytes[8] != bytes[9]) {
        std::swap(bytes[8], bytes[9]);
        swapped = true;
      }
      tarvonic->OnSysEx(output, bytes, at);
    }
  } cable;
  struct Case {
    const char* name;
    Script script;
    int code;
    std::size_t warnings;
    const char* tail;  // the transcript's last events
    const char* said;  // on stdout or stderr
    const char* unanswered = nullptr;  // the caption of a question ended by the interrupt
    std::uint32_t lastHeard = 0;       // the packet the upload ended with, when it matters
  };
  const Case cases[] = {
      {"interrupt-once", {.countedAt = {60}}, cli::ExitSuccess, 1, "BOX ", Whole},
      {"interrupt-twice", {.countedAt = {55, 60}}, cli::ExitInterrupted, 1, "OUT STOP ", "kelmora-flash: the upload was stopped. "
       "The Device is in its boot loader and has no\nworking firmware. Run the flash again", nullptr, 60},
      {"question-before-upload", {.typed = "", .prompt = "[o]k / [c]ancel? ", .interrupts = 1}, cli::ExitInterrupted,
       0, "BOX STOP ", texts::InterruptedBeforeUploadText, texts::ReadyCaption, 1},
      {"question-in-upload", {.typed = "o\n", .prompt = "[r]etry / [c]ancel? ", .interrupts = 2, .silentFrom = 60},
       cli::ExitInterrupted, 1, "INTERRUPT STOP BOX ", "the upload was stopped.", texts::SilenceCaption},
      // No interrupt, but ports that cannot be opened: named, with the reason.
      {"broken-ports", {.rig = [](cli::Session&, sim::SimMidiDriver& driver) {
         driver.AddInput({.name = "Busy In", .openError = platform::MmSysErrAllocated});
         driver.AddOutput({.name = "Odd Out", .openError = 7});
       }}, cli::ExitSuccess, 0, "", "kelmora-flash: cannot open the MIDI input \"Busy "
       "In\": it is in use by another program (close it and try again)\nkelmora-flash: cannot open the MIDI output "
       "\"Odd Out\": the driver refused it (error 7)\n"},
      {"swapping-cable", {.rig = [&](cli::Session& session, sim::SimMidiDriver& driver) {
         cable.tarvonic = session.Instrument();
         driver.Detach(cable.tarvonic);
         driver.AttachToOutput(0, &cable);
       }}, cli::ExitFailure, 0, "", "kelmora-flash: the upload reported success, but the virtual Tarvonic's firmware "
       "is not the image's\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Flashed f;
    Flash(c.script, c.name, f);
    EXPECT_EQ(f.code, c.code) << f.out << f.err;
    EXPECT_EQ(Count(f.err, Warning), c.warnings) << f.err;
    EXPECT_NE((f.out + f.err).find(c.said), std::string::npos) << f.out << f.err;
    EXPECT_EQ(f.out.find("== Upload") == std::string::npos, c.code == cli::ExitInterrupted) << "neither Complete nor Error";
    EXPECT_TRUE(f.kinds.ends_with(c.tail)) << f.kinds;
    EXPECT_EQ(Count(f.out, c.script.prompt), static_cast<std::size_t>(c.script.interrupts)) << "asked again";
    EXPECT_TRUE(c.lastHeard == 0 || f.lastHeard == c.lastHeard) << f.lastHeard;
    if (c.unanswered == nullptr) continue;
    EXPECT_EQ(f.lastHeard, f.heardAtQuestion) << "sent after the question";
    EXPECT_TRUE(f.lastBox.starts_with(std::string(c.unanswered) + " | ") && f.lastBox.ends_with(" | NONE")) << f.lastBox;
  }
  EXPECT_TRUE(cable.swapped);
#if !defined(_WIN32)
  // After the upload the system's default is back: the next Ctrl-C ends the run.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
#endif
}

}  // namespace
