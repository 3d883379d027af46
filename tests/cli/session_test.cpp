// What no argument can make happen, with the command line's session driven
// by hand: Ctrl-C at a chosen packet (counted as the signal handler counts
// it, while the virtual Tarvonic hears that packet), and ports that cannot
// be opened. One session per case: the transport starts once per process.
#include <algorithm>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

#include "cli/commands.h"
#include "cli/interrupts.h"
#include "platform/services.h"
#include "platform/sim/sim_midi_driver.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

namespace {

struct Flashed {
  int code = -1;
  std::string out, err;
  std::vector<std::string> kinds;  // of the transcript's events
  std::uint32_t lastHeard = 0;     // the last packet the instrument heard
};

// Packet 1 is the state request, 2 to 51 the probes, then the track's.
// Without a transcript the driver is the simulated one itself, and `rig`
// changes it before the transport starts.
using Rig = std::function<void(cli::Session&, sim::SimMidiDriver&)>;
Flashed Flash(const std::vector<std::uint32_t>& interrupts, const Rig& rig, const std::string& name) {
  const std::string image = cli_test::TempPath(name + ".mid"), transcript = cli_test::TempPath(name + ".txt");
  cli_test::WriteFile(image, test_images::ReleaseShape(6));
  std::vector<std::string> args = {"--virtual", "--image", image, "flash", "--yes"};
  if (!rig) args.insert(args.begin(), {"--transcript", transcript});
  cli::Options options;
  cli::ParseCommandLine(args, options);
  std::FILE* files[] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
  const cli::Console console{files[0], files[1], files[2], false};
  Flashed f;
  {
    cli::Session session(options, console);
    EXPECT_TRUE(session.Install());
    if (rig) rig(session, *static_cast<sim::SimMidiDriver*>(platform::Installed().midi));
    session.Instrument()->SetFaultScript([&](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
      f.lastHeard = p.index;
      if (std::find(interrupts.begin(), interrupts.end(), p.index) != interrupts.end()) cli::CountInterrupt();
      return std::nullopt;
    });
    EXPECT_TRUE(session.LoadImage() && session.StartMidi());
    f.code = cli::FlashWithSession(session, options, console);
  }
  transport_testing::ResetTransport();
  f.out = cli_test::ReadAll(files[1]);
  f.err = cli_test::ReadAll(files[2]);
  for (std::FILE* file : files) std::fclose(file);
  const cli_test::TranscriptFile t = cli_test::ReadTranscript(transcript);
  EXPECT_TRUE(t.malformed.empty());
  for (const auto& e : t.events) f.kinds.push_back(e.kind);
  return f;
}

bool Once(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos && text.find(part) == text.rfind(part);
}

constexpr const char* Warning = "interrupted. Stopping the upload now leaves the Device in its boot loader";
constexpr const char* Whole = "(equal to the image's plain firmware)";

TEST(Interrupt, OneDuringTheUploadWarnsOnceAndTheUploadCompletes) {
  const Flashed f = Flash({60}, {}, "interrupt-once");
  EXPECT_EQ(f.code, cli::ExitSuccess) << f.err;
  EXPECT_TRUE(Once(f.err, Warning)) << f.err;
  EXPECT_NE(f.out.find(Whole), std::string::npos);
  EXPECT_EQ(std::count(f.kinds.begin(), f.kinds.end(), "INTERRUPT"), 1);
  EXPECT_EQ(f.kinds.back(), "BOX") << "no STOP";
#if !defined(_WIN32)
  // After the upload the system's default is back: the next Ctrl-C ends the run.
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
#endif
}

TEST(Interrupt, TwoDuringTheUploadStopItBeforeTheNextPacketAndSayWhatToDo) {
  const Flashed f = Flash({55, 60}, {}, "interrupt-twice");
  EXPECT_EQ(f.code, cli::ExitInterrupted);
  EXPECT_EQ(f.lastHeard, 60u) << "the upload went on after the first, and sent nothing after the stop";
  EXPECT_TRUE(Once(f.err, Warning)) << f.err;
  EXPECT_NE(f.err.find("kelmora-flash: the upload was stopped. The Device is in its boot loader and has no\n"
                       "working firmware. Run the flash again"), std::string::npos) << f.err;
  EXPECT_EQ(f.out.find("== Upload"), std::string::npos) << "neither Complete nor Error";
  ASSERT_GE(f.kinds.size(), 2u);
  EXPECT_EQ(std::count(f.kinds.begin(), f.kinds.end(), "INTERRUPT"), 1);
  EXPECT_EQ(f.kinds.back(), "STOP");
  EXPECT_EQ(f.kinds[f.kinds.size() - 2], "OUT") << "the stop comes during the packet's wait";
}

TEST(Ports, ThoseThatCannotBeOpenedAreNamedWithTheReason) {
  const Flashed f = Flash({}, [](cli::Session&, sim::SimMidiDriver& driver) {
    driver.AddInput({.name = "Busy In", .openError = platform::MmSysErrAllocated});
    driver.AddOutput({.name = "Odd Out", .openError = 7});
  }, "broken-ports");
  EXPECT_EQ(f.code, cli::ExitSuccess) << f.err;
  EXPECT_NE(f.err.find("kelmora-flash: cannot open the MIDI input \"Busy In\": it is in use by another program "
                       "(close it and try again)\n"), std::string::npos) << f.err;
  EXPECT_NE(f.err.find("kelmora-flash: cannot open the MIDI output \"Odd Out\": the driver refused it (error 7)\n"),
            std::string::npos) << f.err;
  EXPECT_NE(f.out.find(Whole), std::string::npos);
}

// A cable that swaps two payload bytes of one data packet: the packet's
// checksum (a sum) cannot see it, the instrument writes what it got, and the
// host says "Upload Complete". The dry run's own check must fail the run.
TEST(DryRun, FirmwareThatIsNotTheImageFailsTheRunThoughTheHostReportedSuccess) {
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
  const Flashed f = Flash({}, [&](cli::Session& session, sim::SimMidiDriver& driver) {
    cable.tarvonic = session.Instrument();
    driver.Detach(cable.tarvonic);
    driver.AttachToOutput(0, &cable);
  }, "swapping-cable");
  EXPECT_TRUE(cable.swapped);
  EXPECT_EQ(f.code, cli::ExitFailure);
  EXPECT_NE(f.out.find("== Upload Complete =="), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("(DIFFERENT from the image's plain firmware)"), std::string::npos) << f.out;
  EXPECT_TRUE(Once(f.err, "kelmora-flash: the upload reported success, but the virtual Tarvonic's firmware is not "
                          "the image's\n")) << f.err;
}

}  // namespace
