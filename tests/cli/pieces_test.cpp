// The command line's small parts with rules of their own: the progress line,
// the answers the terminal gives to a message box, the transcript's order,
// and the firmware digest.
#include <algorithm>
#include <gtest/gtest.h>

#include "cli/firmware_digest.h"
#include "cli/progress_printer.h"
#include "cli/terminal_dialogs.h"
#include "session/transcript.h"
#include "platform/sim/virtual_clock.h"
#include "tests/cli/cli_run.h"

namespace {

// An upload's window: heading, a position every 4 %, a highlighted text.
std::string Printed(bool inPlace) {
  std::FILE* out = std::tmpfile();
  cli::ProgressPrinter printer(out, inPlace, nullptr);
  using Kind = progress::ProgressEvent::Kind;
  auto event = [&printer](Kind kind, std::uint32_t at, std::uint32_t position = 0, const char* text = "") {
    progress::ProgressEvent e;
    e.kind = kind;
    e.at = at;
    e.mode = 3;
    e.lines = {"Flashing in Progress"};
    e.text = text;
    e.position = position;
    e.total = 100;
    printer.OnEvent(e);
  };
  event(Kind::Open, 1000);
  event(Kind::Text, 1000, 0, "Writing");
  for (std::uint32_t p = 0; p <= 100; p += 4) event(Kind::Position, 1000 + p * 100, p);
  event(Kind::Text, 11000, 0, "!Retry...");
  event(Kind::Close, 11000);
  const std::string text = cli_test::ReadAll(out);
  std::fclose(out);
  return text;
}

TEST(Progress, RedrawnInPlaceOnATerminalInOccasionalLinesOtherwise) {
  const std::string terminal = Printed(true);
  EXPECT_EQ(terminal.rfind("Flashing in Progress\n", 0), 0u);
  EXPECT_EQ(std::count(terminal.begin(), terminal.end(), '\r'), 27);  // every redraw returns to the start
  EXPECT_EQ(std::count(terminal.begin(), terminal.end(), '\n'), 2);   // the close ends the line once
  EXPECT_NE(terminal.find(" 48%  Writing                   0:04 elapsed, 0:05 left"), std::string::npos);
  EXPECT_NE(terminal.find("\r[##############################] 100%  !Retry..."), std::string::npos);
  // Otherwise: the heading, a line per tenth reached, the highlighted text, the close.
  const std::string lines = Printed(false);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 14);
  const std::size_t retry = lines.find("\n[##############################] 100%  !Retry...");
  EXPECT_EQ(std::count(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(retry), '\n'), 11);
  // Beyond the end, without a total, below one percent: no overflow, no division.
  EXPECT_EQ(cli::ProgressBar(150, 100, 10), "[##########] 100%");
  EXPECT_EQ(cli::ProgressBar(5, 0, 4), "[....]   0%");
  EXPECT_EQ(cli::TimeLeft(30000, 5, 1000) + cli::TimeLeft(30000, 101, 100), "");
}

TEST(TerminalBoxes, AnswerByButtonsInputAndYes) {
  using namespace platform;
  struct Case {
    std::uint32_t flags;
    bool yes;  // --yes
    const char* input;
    int answer;
  };
  for (const Case c : {Case{BoxOk, false, "", IdOk}, {BoxOkCancel, false, "  OK\n", IdOk},
                       {BoxOkCancel, false, "c\n", IdCancel}, {BoxOkCancel, false, "what\no\n", IdOk},
                       {BoxOkCancel, false, "", IdCancel}, {BoxOkCancel, true, "", IdOk},
                       {BoxRetryCancel, false, "r\n", IdRetry}, {BoxRetryCancel, false, "c\n", IdCancel},
                       {BoxRetryCancel, true, "", IdCancel}}) {  // unattended: not waiting for ever
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fputs(c.input, in);
    std::rewind(in);
    cli::TerminalDialogs dialogs(in, out, out, c.yes, nullptr);
    EXPECT_EQ(dialogs.MessageBox(nullptr, "Line one\r\nLine two", "Caption", c.flags | BoxDefButton2), c.answer)
        << c.flags << " yes=" << c.yes << " input=" << c.input;
    if (c.flags == BoxOk) {
      EXPECT_EQ(cli_test::ReadAll(out), "\n== Caption ==\nLine one\nLine two\n[OK]\n");
    }
    std::fclose(in);
    std::fclose(out);
  }
}

// An answer handed back while the driver still takes the message waits for
// the message's line; a message the driver refused has none. Each line is in
// the file as soon as it is written.
TEST(Transcript, AnAnswerDuringTheSendFollowsTheMessageAndARefusedMessageIsLeftOut) {
  sim::VirtualClock clock;
  const std::string path = cli_test::TempPath("transcript-order.txt");
  session::Transcript transcript;
  ASSERT_TRUE(transcript.Open(path, clock));
  const std::uint8_t message[] = {0xF0, 0x01, 0xF7}, answer[] = {0xF0, 0x02, 0xF7};
  for (const bool accepted : {false, true}) {
    const std::int32_t at = transcript.BeginOut();
    transcript.In("in", answer);
    transcript.EndOut(at, "out", message, accepted);
  }
  EXPECT_EQ(cli_test::ReadAll(path),
            "# kelmora-flash transcript 1\n0 IN [in] F0 02 F7\n0 OUT [out] F0 01 F7\n0 IN [in] F0 02 F7\n");
}

TEST(FirmwareDigest, IsFnv1a64) {
  const std::uint8_t a[] = {'a'};
  EXPECT_EQ(cli::FirmwareDigest({}) + " " + cli::FirmwareDigest(a), "fnv1a64:CBF29CE484222325 fnv1a64:AF63DC4C8601EC8C");
}

}  // namespace
