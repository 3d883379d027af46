// Ctrl-C during a dry run, on the virtual clock: the interrupt is scripted at
// a chosen packet, counted as the signal handler counts it while the virtual
// Tarvonic hears that packet. One interrupt warns and the upload goes on; a
// second stops it before the next send. (The real signal against the real
// program: tests/cli/jack_test.cpp.) One flash per case: the MIDI transport
// starts once per process.
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/interrupts.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

namespace {

struct Interrupted {
  int code = -1;
  std::string out, err;
  cli_test::TranscriptFile transcript;
  std::uint32_t lastHeard = 0;  // the last packet the instrument heard
};

// Index 1 is the state request, 2 to 51 the probes, then the track's packets.
Interrupted FlashInterruptedAt(const std::vector<std::uint32_t>& packets, const std::string& name) {
  const std::string image = cli_test::TempPath(name + ".mid");
  const std::string transcript = cli_test::TempPath(name + ".txt");
  cli_test::WriteFile(image, test_images::ReleaseShape(6));
  cli::Options options;
  cli::ParseCommandLine({"--virtual", "--image", image, "--transcript", transcript, "flash", "--yes"},
                        options);
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const cli::Console console{in, out, err, false};
  Interrupted run;
  {
    cli::Session session(options, console);
    EXPECT_TRUE(session.Install());
    session.Instrument()->SetFaultScript(
        [&](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
          run.lastHeard = p.index;
          if (std::find(packets.begin(), packets.end(), p.index) != packets.end()) cli::CountInterrupt();
          return std::nullopt;
        });
    EXPECT_TRUE(session.LoadImage() && session.StartMidi());
    run.code = cli::FlashWithSession(session, options, console);
  }
  transport_testing::ResetTransport();
  run.out = cli_test::ReadAll(out);
  run.err = cli_test::ReadAll(err);
  for (std::FILE* f : {in, out, err}) std::fclose(f);
  run.transcript = cli_test::ReadTranscript(transcript);
  return run;
}

bool Once(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos && text.find(part) == text.rfind(part);
}

std::vector<std::string> Kinds(const cli_test::TranscriptFile& t) {
  std::vector<std::string> kinds;
  for (const auto& e : t.events) kinds.push_back(e.kind);
  return kinds;
}

constexpr const char* Warning = "interrupted. Stopping the upload now leaves the Device in its boot loader";

}  // namespace

TEST(Interrupt, OneDuringTheUploadWarnsOnceAndTheUploadCompletes) {
  const Interrupted run = FlashInterruptedAt({60}, "interrupt-once");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(Once(run.err, Warning)) << run.err;
  EXPECT_NE(run.out.find("(equal to the image's plain firmware)"), std::string::npos);
  const std::vector<std::string> kinds = Kinds(run.transcript);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "INTERRUPT"), 1);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "STOP"), 0);
#if !defined(_WIN32)
  // After the upload the system's default is back: the next Ctrl-C ends the run.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
#endif
}

TEST(Interrupt, TwoDuringTheUploadStopItBeforeTheNextPacketAndSayWhatToDo) {
  const Interrupted run = FlashInterruptedAt({55, 60}, "interrupt-twice");
  EXPECT_EQ(run.code, cli::ExitInterrupted);
  EXPECT_EQ(run.lastHeard, 60u) << "the upload went on after the first, and sent nothing after the stop";
  EXPECT_TRUE(Once(run.err, Warning)) << run.err;
  EXPECT_NE(run.err.find("kelmora-flash: the upload was stopped. The Device is in its boot loader and has no\n"
                         "working firmware. Run the flash again"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("== Upload"), std::string::npos) << "neither Complete nor Error";
  // The transcript ends with the stop, after the last packet went out.
  EXPECT_TRUE(run.transcript.malformed.empty());
  const std::vector<std::string> kinds = Kinds(run.transcript);
  ASSERT_GE(kinds.size(), 2u);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "INTERRUPT"), 1);
  EXPECT_EQ(kinds.back(), "STOP");
  EXPECT_EQ(kinds[kinds.size() - 2], "OUT") << "the stop follows the packet it came during";
}
