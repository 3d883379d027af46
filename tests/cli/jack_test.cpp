// The real MIDI path without hardware: a private JACK server with the dummy
// back end, `kelmora-flash --api jack emulate` (with faults) in one process
// and `kelmora-flash --api jack flash --yes` in another, in real time through
// RtMidi. The emulator's digest of what it wrote must be the image's plain
// firmware. Skipped, with a message, only when jackd cannot start here.
#include <gtest/gtest.h>

#include "cli/firmware_digest.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

TEST(RealMidiOverJack, FlashesASmallImageIntoTheEmulatorThroughItsFaults) {
  const std::string dir = cli_test::TempPath("jack-" + std::to_string(getpid()) + "-");
  cli_test::JackSession jack = cli_test::StartJackSession(
      KF_FLASH_EXE, dir, {"--faults", "seed=5,drop=0.02,code2=0.04,code4=0.03,other=0.02,garbage=0.05"});
  if (!jack.failure.empty()) GTEST_SKIP() << "no JACK test here: " << jack.failure;
  test_images::ImageBuilder builder;
  builder.Version("9.00").Marker("Erasing Flash...").Header().Reset().Marker("Writing Sections...");
  for (int i = 0; i < 24; ++i) builder.Data(116);
  const test_images::Bytes file = builder.Data(37).Marker("Restarting...").EndOfTrack().File();
  cli_test::WriteFile(dir + "image.mid", file);

  // Without realtime scheduling a loaded machine gives the server xruns that
  // lose a cycle's events. The upload recovers by the protocol; the scan's
  // one question and the boot-loader check do not retry, so a run that ended
  // before the upload began is started again, three times at most.
  std::unique_ptr<cli_test::Child> flasher;
  int code = -1;
  for (int attempt = 0; attempt < 3 && code != 0; ++attempt) {
    flasher = std::make_unique<cli_test::Child>(
        std::vector<std::string>{KF_FLASH_EXE, "--api", "jack", "--image", dir + "image.mid", "--transcript",
                                 dir + "transcript.txt", "flash", "--yes"},
        dir + "flasher.log");
    code = flasher->Wait(std::chrono::seconds(180));
    if (flasher->Output().find("Flashing in Progress") != std::string::npos) break;
  }
  const int emulatorCode = jack.emulator->Kill(SIGINT, std::chrono::seconds(10));
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
