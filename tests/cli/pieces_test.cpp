// The command line's small parts: transcript formatting, the progress line,
// and the answers the terminal gives to message boxes.
#include <gtest/gtest.h>

#include "cli/progress_printer.h"
#include "cli/terminal_dialogs.h"
#include "cli/transcript.h"
#include "tests/cli/cli_run.h"

TEST(Transcript, BytesAndLineBreaks) {
  const std::vector<std::uint8_t> bytes = {0xF0, 0x00, 0x6D, 0x1C, 0x0A, 0xF7};
  EXPECT_EQ(cli::HexBytes(bytes), "F0 00 6D 1C 0A F7");
  EXPECT_EQ(cli::HexBytes({}), "");
  EXPECT_EQ(cli::EscapeLineBreaks("a\r\nb\nc\rd"), "a\\r\\nb\\nc\\rd");
  EXPECT_STREQ(cli::AnswerName(platform::IdOk), "OK");
  EXPECT_STREQ(cli::AnswerName(platform::IdCancel), "CANCEL");
  EXPECT_STREQ(cli::AnswerName(platform::IdYes), "YES");
  EXPECT_STREQ(cli::AnswerName(platform::IdNo), "NO");
}

TEST(Progress, BarPercentAndTimes) {
  EXPECT_EQ(cli::ProgressBar(0, 100, 10), "[..........]   0%");
  EXPECT_EQ(cli::ProgressBar(55, 100, 10), "[#####.....]  55%");
  EXPECT_EQ(cli::ProgressBar(100, 100, 10), "[##########] 100%");
  EXPECT_EQ(cli::ProgressBar(150, 100, 10), "[##########] 100%");  // never past the end
  EXPECT_EQ(cli::ProgressBar(5, 0, 4), "[....]   0%");            // no total: no division
  EXPECT_EQ(cli::MinutesSeconds(0), "0:00");
  EXPECT_EQ(cli::MinutesSeconds(61999), "1:01");
  EXPECT_EQ(cli::MinutesSeconds(3600000), "60:00");
  EXPECT_EQ(cli::TimeLeft(30000, 25, 100), "1:30");
  EXPECT_EQ(cli::TimeLeft(30000, 0, 100), "");      // no rate yet
  EXPECT_EQ(cli::TimeLeft(30000, 5, 1000), "");     // below one percent
  EXPECT_EQ(cli::TimeLeft(30000, 101, 100), "");    // nonsense in, nothing out
}

namespace {

struct BoxCase {
  std::uint32_t flags;
  bool yes;
  const char* input;
  int answer;
};

int Answer(const BoxCase& c, std::string* shown = nullptr) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fputs(c.input, in);
  std::rewind(in);
  cli::TerminalDialogs dialogs(in, out, c.yes, nullptr);
  const int answer = dialogs.MessageBox(nullptr, "Line one\r\nLine two", "Caption", c.flags);
  if (shown != nullptr) *shown = cli_test::ReadAll(out);
  std::fclose(in);
  std::fclose(out);
  return answer;
}

}  // namespace

TEST(TerminalBoxes, AnswersByButtonsInputAndYes) {
  using namespace platform;
  const std::vector<BoxCase> cases = {
      {BoxOk, false, "", IdOk},
      {BoxOkCancel | BoxDefButton2, false, "o\n", IdOk},
      {BoxOkCancel | BoxDefButton2, false, "  OK\n", IdOk},
      {BoxOkCancel | BoxDefButton2, false, "c\n", IdCancel},
      {BoxOkCancel | BoxDefButton2, false, "what\nok\n", IdOk},  // asked again
      {BoxOkCancel | BoxDefButton2, false, "", IdCancel},         // end of input
      {BoxOkCancel | BoxDefButton2, true, "", IdOk},
      {BoxYesNo, false, "y\n", IdYes},
      {BoxYesNo, false, "n\n", IdNo},
      {BoxYesNo, false, "", IdNo},
      {BoxYesNo, true, "", IdYes},
      {BoxRetryCancel, false, "r\n", IdRetry},
      {BoxRetryCancel, false, "c\n", IdCancel},
      {BoxRetryCancel, true, "", IdCancel},  // unattended: do not wait forever
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.flags << " yes=" << c.yes << " input=" << c.input);
    EXPECT_EQ(Answer(c), c.answer);
  }
}

TEST(TerminalBoxes, CaptionAndTextAsTheBoxShowsThem) {
  std::string shown;
  Answer({platform::BoxOk, false, "", platform::IdOk}, &shown);
  EXPECT_EQ(shown, "\n== Caption ==\nLine one\nLine two\n[OK]\n");
}
