// The real MIDI path without hardware, on a private JACK server with the
// dummy back end: `kelmora-flash --api jack emulate` in one process and the
// flasher in another, in real time through RtMidi; real SIGINTs against the
// real program; and the program without the MIDI system it was asked to use.
// The JACK tests are skipped, with a message, only when jackd cannot start
// here. Every wait is bounded.
#include <gtest/gtest.h>

#include "cli/firmware_digest.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

using cli_test::Child;
using namespace std::chrono_literals;

// The emulator's digest of what it wrote, through its faults, must be the
// image's plain firmware, and the emulator ends with 0 only then.
TEST(RealMidiOverJack, FlashesASmallImageIntoTheEmulatorThroughItsFaults) {
  const std::string dir = cli_test::TempPath("jack-" + std::to_string(getpid()) + "-");
  test_images::ImageBuilder builder;
  builder.Version("9.00").Marker("Erasing Flash...").Header().Reset().Marker("Writing Sections...");
  for (int i = 0; i < 24; ++i) builder.Data(116);
  const test_images::Bytes file = builder.Data(37).Marker("Restarting...").EndOfTrack().File();
  cli_test::WriteFile(dir + "image.mid", file);
  cli_test::JackSession jack = cli_test::StartJackSession(
      KF_FLASH_EXE, dir,
      {"--image", dir + "image.mid", "--faults", "seed=5,drop=0.02,code2=0.04,code4=0.03,other=0.02,garbage=0.05"});
  if (!jack.failure.empty()) GTEST_SKIP() << "no JACK test here: " << jack.failure;

  // Without realtime scheduling a loaded machine gives the server xruns that
  // lose a cycle's events. The upload recovers by the protocol; the scan's
  // one question and the boot-loader check do not retry, so a run that ended
  // before the upload began is started again, three times at most.
  std::unique_ptr<Child> flasher;
  int code = -1;
  for (int attempt = 0; attempt < 3 && code != 0; ++attempt) {
    flasher = std::make_unique<Child>(
        std::vector<std::string>{KF_FLASH_EXE, "--api", "jack", "--image", dir + "image.mid", "--transcript",
                                 dir + "transcript.txt", "flash", "--yes"},
        dir + "flasher.log");
    code = flasher->Wait(180s);
    if (flasher->Output().find("Flashing in Progress") != std::string::npos) break;
  }
  const int emulatorCode = jack.emulator->Kill(SIGINT, 10s);
  const std::string emulated = jack.emulator->Output();
  jack.Stop();
  ASSERT_EQ(code, 0) << flasher->Output() << "\n--- emulator:\n" << emulated.substr(0, 4000);
  EXPECT_NE(flasher->Output().find("== Upload Complete =="), std::string::npos);
  EXPECT_EQ(emulatorCode, 0);
  const test_images::Bytes plain = test_images::PlainFirmware(test_images::Track(file));
  EXPECT_NE(emulated.find("firmware: " + std::to_string(plain.size()) + " bytes " + cli::FirmwareDigest(plain)),
            std::string::npos) << emulated.substr(emulated.size() > 600 ? emulated.size() - 600 : 0);
  // The transcript names the emulator's ports.
  const cli_test::TranscriptFile t = cli_test::ReadTranscript(dir + "transcript.txt");
  EXPECT_TRUE(t.malformed.empty());
  for (const auto& [kind, port] : {std::pair{"OUT", "Tarvonic In:MIDI"}, {"IN", "Tarvonic Out:MIDI"}}) {
    EXPECT_NE(std::find_if(t.events.begin(), t.events.end(),
                           [&](const auto& e) { return e.kind == kind && e.port == port; }),
              t.events.end()) << kind;
  }
}

// Cuts every connection of the instrument's ports, as jack_disconnect would
// by hand (the flasher may close its ports at the first cut, before the
// second).
void DisconnectInstrument() {
  std::system("jack_lsp -c Tarvonic | awk '/^ /{sub(/^ +/, \"\"); printf \"%s\\t%s\\n\", p, $0; next} {p = $0}' "
              "| while IFS='\t' read -r a b; do jack_disconnect \"$a\" \"$b\" 2>/dev/null; done");
}

// Another client's traffic on the flasher's input costs no reply; the
// instrument's connections cut, or the server stopped, mid-upload end it
// within seconds with one box and exit code 4, the transcript complete.
TEST(RealMidiOverJack, TrafficCostsNothingAndALostConnectionEndsTheUploadAtOnce) {
  enum Action { Traffic, Disconnect, StopServer };
  for (const Action action : {Traffic, Disconnect, StopServer}) {
    SCOPED_TRACE(action);
    const std::string dir = cli_test::TempPath("jack-world-" + std::to_string(getpid()) + "-" + std::to_string(action) + "-");
    cli_test::JackSession jack = cli_test::StartJackSession(KF_FLASH_EXE, dir);
    if (!jack.failure.empty()) GTEST_SKIP() << "no JACK test here: " << jack.failure;
    const test_images::Bytes file = test_images::ReleaseShape(100);
    cli_test::WriteFile(dir + "image.mid", file);
    const Child traffic({KF_JACK_TRAFFIC, "Tarvonic Out:MIDI", "sense+clock+notes+sysex"}, dir + "traffic.log");
    std::unique_ptr<Child> flasher;
    for (int attempt = 0; attempt < 3; ++attempt) {  // a run that lost its scan to an xrun starts again
      flasher = std::make_unique<Child>(
          std::vector<std::string>{KF_FLASH_EXE, "--api", "jack", "--image", dir + "image.mid", "--transcript",
                                   dir + "transcript.txt", "flash", "--yes"},
          dir + "flasher.log");
      if (flasher->WaitForOutput(" 10%", 120s)) break;
    }
    ASSERT_FALSE(flasher->Ended()) << flasher->Output();
    const auto acted = cli_test::SteadyClock::now();
    if (action == Disconnect) DisconnectInstrument();
    if (action == StopServer) jack.jackd->Kill(SIGTERM, 10s);
    const int code = flasher->Wait(120s);
    const auto took = std::chrono::duration_cast<std::chrono::seconds>(cli_test::SteadyClock::now() - acted);
    const std::string out = flasher->Output();
    EXPECT_NE(out.find("\n1 device found\n"), std::string::npos) << out;
    const cli_test::TranscriptFile t = cli_test::ReadTranscript(dir + "transcript.txt");
    EXPECT_TRUE(t.malformed.empty());
    if (action == Traffic) {
      EXPECT_EQ(code, 0) << out;
      EXPECT_EQ(out.find("!Retry"), std::string::npos) << "a reply went missing";
      EXPECT_TRUE(std::any_of(t.events.begin(), t.events.end(), [](const cli_test::TranscriptEvent& e) {
        return e.port == "Tarvonic Out:MIDI" && e.bytes.size() > 1 && e.bytes[1] == 0x7D;
      })) << "no dump of the other client on the instrument's input";
      continue;
    }
    EXPECT_EQ(code, 4) << out;
    EXPECT_LE(took.count(), 10);
    EXPECT_NE(out.find("== MIDI Connection Lost ==\nThe MIDI port \"Tarvonic "), std::string::npos) << out;
    ASSERT_FALSE(t.events.empty());
    EXPECT_EQ(t.events.back().kind + " " + t.events.back().rest.substr(0, 22), "BOX MIDI Connection Lost |");
  }
}

// Before the upload the default stands: one interrupt ends the program by
// the signal. During one the first only warns and the second stops it: exit
// 130.
TEST(RealSignal, OneEndsTheProgramBeforeTheUploadDuringItTheFirstWarnsAndTheSecondStops) {
  const std::string dir = cli_test::TempPath("signal-" + std::to_string(getpid()) + "-");
  constexpr const char* Warning = "interrupted. Stopping the upload now leaves the Device";
  {
    Child asking({KF_FLASH_EXE, "--virtual", "flash"}, dir + "asking.log", /*holdInput=*/true);
    ASSERT_TRUE(asking.WaitForOutput("[o]k / [c]ancel? ", 20s)) << asking.Output();
    asking.Kill(SIGINT, 5s);
    EXPECT_EQ(asking.Signal(), SIGINT) << asking.Output();
    EXPECT_EQ(asking.Output().find(Warning), std::string::npos);
  }
  cli_test::WriteFile(dir + "image.mid", test_images::ReleaseShape(400));
  cli_test::JackSession jack = cli_test::StartJackSession(KF_FLASH_EXE, dir, {"--image", dir + "image.mid"});
  if (!jack.failure.empty()) GTEST_SKIP() << "no JACK test here: " << jack.failure;
  // A loaded machine can lose the scan's one question to a JACK xrun
  // (jack_test.cpp): a run that ends before the upload is started again.
  std::unique_ptr<Child> flasher;
  for (int attempt = 0; attempt < 3; ++attempt) {
    flasher = std::make_unique<Child>(
        std::vector<std::string>{KF_FLASH_EXE, "--api", "jack", "--image", dir + "image.mid", "flash", "--yes"},
        dir + "flasher.log");
    if (flasher->WaitForOutput(" 10%", 120s)) break;  // the line at a tenth of the track: the upload runs
    flasher->Kill(SIGKILL, 0ms);
  }
  ASSERT_FALSE(flasher->Ended()) << flasher->Output();
  kill(flasher->Pid(), SIGINT);
  EXPECT_TRUE(flasher->WaitForOutput(Warning, 10s)) << flasher->Output();
  EXPECT_TRUE(flasher->WaitForOutput(" 20%", 60s)) << "the upload goes on\n" << flasher->Output();
  EXPECT_EQ(flasher->Kill(SIGINT, 20s), 130) << flasher->Output();
  EXPECT_EQ(jack.emulator->Kill(SIGINT, 10s), 1) << "part of the image is not the image";
  jack.Stop();
  // What the stop says and how the transcript ends: session_test.cpp.
  EXPECT_EQ(flasher->Signal(), 0) << "ended by the program, not by the signal";
}

// The program says in one line of its own what is missing and what to do.
// JACK is asked for a server that nothing runs; the ALSA cases need a
// computer without a sequencer, such as the build machines.
TEST(NoMidiSystem, OneLineSaysWhatIsMissingAndWhatToDo) {
  const std::string noSequencer = "no ALSA sequencer here (/dev/snd/seq is missing); load the snd-seq kernel module "
                                  "(modprobe snd-seq), or use --api jack or --virtual";
  const std::string noServer = "no JACK server is running; start one (e.g. jackd -d alsa), or leave out --api jack "
                               "to use the ALSA sequencer, or use --virtual";
  const bool sequencerHere = access("/dev/snd/seq", F_OK) == 0;
  setenv("JACK_DEFAULT_SERVER", ("kf-nobody-" + std::to_string(getpid())).c_str(), 1);
  const std::string log = cli_test::TempPath("no-midi-" + std::to_string(getpid()) + ".log");
  for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"scan"}, noSequencer}, {{"emulate"}, noSequencer}, {{"--api", "jack", "flash", "--yes"}, noServer}}) {
    if (args[0] != "--api" && sequencerHere) continue;
    std::vector<std::string> argv{KF_FLASH_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    Child program(argv, log);
    EXPECT_EQ(program.Wait(30s), 1) << args.back();
    EXPECT_EQ(program.Output(), "kelmora-flash: cannot use the MIDI system: " + reason + "\n");
  }
  if (sequencerHere) GTEST_SKIP() << "an ALSA sequencer is here: only the JACK case ran";
}
