// The real MIDI path without hardware: a private JACK server with the dummy
// back end, `kelmora-flash --api jack emulate` in one process and
// `kelmora-flash --api jack flash --yes` in another, flashing a small image
// in real time through RtMidi. The emulator's digest of the firmware it
// wrote must be the image's plain firmware. Skipped, with a message, only
// when jackd cannot be started here. Every wait is bounded.
#include <gtest/gtest.h>

#include "cli/firmware_digest.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

using cli_test::Child;
using Clock = cli_test::SteadyClock;

namespace {

// Flashes a small image over JACK into an emulator with these faults.
void FlashOverJack(const std::vector<std::string>& emulatorOptions) {
  const std::string dir = cli_test::TempPath("jack-" + std::to_string(getpid()) + "-");
  cli_test::JackSession jack = cli_test::StartJackSession(KF_FLASH_EXE, dir, emulatorOptions);
  if (!jack.failure.empty()) GTEST_SKIP() << "no JACK test here: " << jack.failure;
  Child& jackd = *jack.jackd;
  Child* emulator = jack.emulator.get();

  test_images::ImageBuilder builder;
  builder.Version("9.00").Marker("Erasing Flash...").Header().Reset().Marker("Writing Sections...");
  for (int i = 0; i < 24; ++i) builder.Data(116);
  builder.Data(37).Marker("Restarting...").EndOfTrack();
  const auto file = builder.File();
  const std::string image = dir + "image.mid";
  cli_test::WriteFile(image, file);

  // Without realtime scheduling a loaded machine gives the JACK server
  // xruns, and a cycle's MIDI events are lost with them. The upload recovers
  // from a lost packet or answer by the protocol itself (the engine sends it
  // again after its budget); the scan's single question and the boot-loader
  // check do not retry, so a run that failed before the upload began is
  // started again, at most three times in all.
  int code = -1;
  int attempts = 0;
  double seconds = 0;
  std::unique_ptr<Child> flasher;
  for (; attempts < 3; ) {
    ++attempts;
    const auto start = Clock::now();
    flasher = std::make_unique<Child>(
        std::vector<std::string>{KF_FLASH_EXE, "--api", "jack", "--image", image, "--transcript",
                                 dir + "transcript.txt", "flash", "--yes"},
        dir + "flasher.log");
    code = flasher->Wait(std::chrono::seconds(180));
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (code < 0) flasher->Kill(SIGKILL, std::chrono::milliseconds(0));
    if (code == 0 || flasher->Output().find("Flashing in Progress") != std::string::npos) break;
  }
  const int emulatorCode = emulator->Kill(SIGINT, std::chrono::seconds(10));
  jackd.Kill(SIGTERM, std::chrono::seconds(10));

  const std::string flasherOut = flasher->Output();
  const std::string emulatorOut = emulator->Output();
  ASSERT_EQ(code, 0) << flasherOut << "\n--- emulator:\n" << emulatorOut.substr(0, 4000);
  EXPECT_NE(flasherOut.find("== Upload Complete =="), std::string::npos);
  EXPECT_EQ(emulatorCode, 0);

  const auto plain = test_images::PlainFirmware(test_images::Track(file));
  const std::string expected = "firmware: " + std::to_string(plain.size()) + " bytes " + cli::FirmwareDigest(plain);
  EXPECT_NE(emulatorOut.find(expected), std::string::npos)
      << expected << "\n" << emulatorOut.substr(emulatorOut.size() > 600 ? emulatorOut.size() - 600 : 0);

  // The transcript names the emulator's ports and holds the whole exchange.
  const auto t = cli_test::ReadTranscript(dir + "transcript.txt");
  EXPECT_TRUE(t.malformed.empty());
  std::size_t outs = 0, ins = 0;
  for (const auto& e : t.events) {
    if (e.kind == "OUT" && e.port == "Tarvonic In:MIDI") ++outs;
    if (e.kind == "IN" && e.port == "Tarvonic Out:MIDI") ++ins;
  }
  const std::size_t messages = 2 + 50 + test_images::Messages(test_images::Track(file)).size();
  EXPECT_GE(outs, messages);
  EXPECT_GE(ins, messages - 1);
  std::printf("JACK flash of %zu bytes of image (%zu messages): %.2f s wall, %zu OUT, %zu IN, attempt %d\n",
              file.size(), messages, seconds, outs, ins, attempts);
}

}  // namespace

TEST(RealMidiOverJack, FlashesASmallImageIntoTheEmulator) { FlashOverJack({}); }

// Lost, late and refused answers and garbage on the real path: the engine
// recovers by its rules and the emulator still ends with the whole firmware.
TEST(RealMidiOverJack, RecoversFromTheEmulatorsFaults) {
  FlashOverJack({"--faults", "seed=5,drop=0.02,code2=0.04,code4=0.03,other=0.02,garbage=0.05"});
}
