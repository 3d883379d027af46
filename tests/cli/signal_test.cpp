// Real SIGINTs against the real kelmora-flash. Before the upload the
// default stands and one interrupt ends the program by the signal. During an
// upload in real time (over a private JACK server into the emulator) the
// first only warns and the second stops it: exit 130, the stop message, and
// a transcript that ends with the stop. Every wait is bounded.
#include <gtest/gtest.h>

#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"
#include "tests/cli/transcript_reader.h"
#include "tests/device/test_images.h"

using cli_test::Child;
using namespace std::chrono_literals;

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
  cli_test::JackSession jack = cli_test::StartJackSession(KF_FLASH_EXE, dir);
  if (!jack.failure.empty()) GTEST_SKIP() << "no JACK test here: " << jack.failure;
  cli_test::WriteFile(dir + "image.mid", test_images::ReleaseShape(400));
  // A loaded machine can lose the scan's one question to a JACK xrun
  // (jack_test.cpp): a run that ends before the upload is started again.
  std::unique_ptr<Child> flasher;
  for (int attempt = 0; attempt < 3; ++attempt) {
    flasher = std::make_unique<Child>(std::vector<std::string>{KF_FLASH_EXE, "--api", "jack", "--image",
                                                               dir + "image.mid", "--transcript",
                                                               dir + "transcript.txt", "flash", "--yes"},
                                      dir + "flasher.log");
    if (flasher->WaitForOutput(" 10%", 120s)) break;  // the line at a tenth of the track: the upload runs
    flasher->Kill(SIGKILL, 0ms);
  }
  ASSERT_FALSE(flasher->Ended()) << flasher->Output();
  kill(flasher->Pid(), SIGINT);
  EXPECT_TRUE(flasher->WaitForOutput(Warning, 10s)) << flasher->Output();
  EXPECT_TRUE(flasher->WaitForOutput(" 20%", 60s)) << "the upload goes on\n" << flasher->Output();
  EXPECT_EQ(flasher->Kill(SIGINT, 20s), 130) << flasher->Output();
  jack.Stop();
  EXPECT_EQ(flasher->Signal(), 0) << "ended by the program, not by the signal";
  EXPECT_NE(flasher->Output().find("the upload was stopped. The Device is in its boot loader"), std::string::npos);
  const cli_test::TranscriptFile t = cli_test::ReadTranscript(dir + "transcript.txt");
  EXPECT_TRUE(t.malformed.empty());
  ASSERT_FALSE(t.events.empty());
  EXPECT_EQ(t.events.back().kind, "STOP");
}
