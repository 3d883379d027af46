// The command line's small parts: transcript formatting, the progress line,
// and the answers the terminal gives to message boxes.
#include <algorithm>
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
  cli::TerminalDialogs dialogs(in, out, out, c.yes, nullptr);
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

namespace {

std::string Printed(bool inPlace, const std::vector<progress::ProgressEvent>& events) {
  std::FILE* out = std::tmpfile();
  cli::ProgressPrinter printer(out, inPlace, nullptr);
  for (const auto& e : events) printer.OnEvent(e);
  const std::string text = cli_test::ReadAll(out);
  std::fclose(out);
  return text;
}

progress::ProgressEvent Event(progress::ProgressEvent::Kind kind, std::uint32_t at) {
  progress::ProgressEvent e;
  e.kind = kind;
  e.window = 1;
  e.at = at;
  return e;
}

std::vector<progress::ProgressEvent> Upload() {
  using Kind = progress::ProgressEvent::Kind;
  std::vector<progress::ProgressEvent> events;
  progress::ProgressEvent open = Event(Kind::Open, 1000);
  open.mode = 3;
  open.lines = {"Flashing in Progress"};
  events.push_back(open);
  progress::ProgressEvent text = Event(Kind::Text, 1000);
  text.text = "Writing";
  events.push_back(text);
  for (std::uint32_t p = 0; p <= 100; p += 4) {
    progress::ProgressEvent position = Event(Kind::Position, 1000 + p * 100);
    position.position = p;
    position.total = 100;
    events.push_back(position);
  }
  text = Event(Kind::Text, 11000);
  text.text = "!Retry...";
  events.push_back(text);
  events.push_back(Event(Kind::Close, 11000));
  return events;
}

}  // namespace

TEST(Progress, RedrawnInPlaceOnATerminal) {
  const std::string text = Printed(true, Upload());
  EXPECT_EQ(text.rfind("Flashing in Progress\n", 0), 0u);
  // Every redraw returns to the line's start; the close ends the line once.
  EXPECT_GE(std::count(text.begin(), text.end(), '\r'), 26);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_NE(text.find("\r[##############################] 100%  !Retry..."), std::string::npos);
  EXPECT_NE(text.find(" 48%  Writing                   0:04 elapsed, 0:05 left"), std::string::npos);
}

TEST(Progress, OccasionalPlainLinesOtherwise) {
  const std::string text = Printed(false, Upload());
  EXPECT_EQ(text.find('\r'), std::string::npos);
  const auto lines = cli_test::Lines(text);
  // The heading, one line per tenth reached, the highlighted status, the close.
  ASSERT_GE(lines.size(), 12u);
  EXPECT_LE(lines.size(), 15u);
  EXPECT_NE(text.find("!Retry..."), std::string::npos);
  EXPECT_EQ(lines.back().rfind("[##############################] 100%", 0), 0u);
}
