// The progress window's record and operations on the virtual clock, the
// scripted dialogs and the recording view: every wait is exact to the
// millisecond and every window is followed from its open to its free.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/sim/scripted_dialogs.h"
#include "platform/sim/virtual_clock.h"
#include "progress/progress_window.h"
#include "progress/progress_window_record.h"
#include "progress/recording_progress_view.h"

using namespace progress;

namespace {

using progress::ProgressEvent;
using Kind = progress::ProgressEvent::Kind;

platform::WindowHandle const Owner = reinterpret_cast<platform::WindowHandle>(0x1234);
platform::ModuleHandle const Module = reinterpret_cast<platform::ModuleHandle>(0x400000);

class ProgressWindowTest : public ::testing::Test {
 protected:
  explicit ProgressWindowTest(std::uint32_t start = 5000) : clock(start) {
    platform::Services services;
    services.module = Module;
    services.clock = &clock;
    services.dialogs = &dialogs;
    services.progress = &view;
    platform::Install(services);
  }
  ~ProgressWindowTest() override {
    // Every record that was handed to a view has been freed again.
    EXPECT_EQ(view.Live(), 0);
    platform::Install(platform::Services{});
  }

  std::vector<ProgressEvent> EventsOf(Kind kind) const {
    std::vector<ProgressEvent> found;
    for (const ProgressEvent& event : view.Events()) {
      if (event.kind == kind) found.push_back(event);
    }
    return found;
  }
  std::uint32_t Now() { return clock.TickCount(); }

  sim::VirtualClock clock;
  sim::ScriptedDialogs dialogs;
  progress::RecordingProgressView view;
};

// ---- hold times and minimum display ----------------------------------------------

// Each text waits for what is left of the previous text's hold, measured from
// the end of that text's own wait.
TEST_F(ProgressWindowTest, EachTextWaitsForWhatIsLeftOfThePreviousHold) {
  struct Step {
    std::uint32_t workBefore;  // the caller's own time since the previous text
    std::uint32_t hold;
    std::uint32_t expectedWait;
  };
  const Step steps[] = {
      {0, 200, 0},                 // the first text after the open does not wait
      {30, 200, 170},              // the second returns exactly 200 ms after the first
      {0, 0, 200},    {0, 50, 0},  // the previous hold was 0
      {250, 100, 0},               // the hold ran out while the caller worked
      {99, 100, 1},
  };
  ProgressWindow* window = OpenProgressWindow(Module, 3, nullptr, "Flashing");
  ASSERT_NE(window, nullptr);
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    clock.Sleep(steps[i].workBefore);
    const std::uint32_t before = Now();
    SetProgressText(window, steps[i].hold, "text");
    EXPECT_EQ(Now() - before, steps[i].expectedWait) << "step " << i;
  }
  CloseProgressWindow(window, 0);

  const auto texts = EventsOf(Kind::Text);
  ASSERT_EQ(texts.size(), std::size(steps));
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(texts[i].holdMs, steps[i].hold) << "step " << i;
  }
}

// The minimum display counts from the open; the last text's hold is not waited for.
TEST_F(ProgressWindowTest, CloseWaitsForTheMinimumDisplayOnly) {
  struct Case {
    std::uint32_t openFor;   // time between open and close
    std::uint32_t textHold;  // a text set right before the close (0: none)
    std::uint32_t minimum;
    std::uint32_t closedAt;  // after the open
  };
  const Case cases[] = {
      {0, 0, 300, 300},    // closed at once after the open: up 300 ms after the open
      {100, 200, 0, 100},  // a pending hold does not keep the window up
      {100, 200, 150, 150},
      {500, 0, 300, 500},  // the minimum has already passed
  };
  for (const Case& c : cases) {
    const std::uint32_t opened = Now();
    ProgressWindow* window = OpenProgressWindow(Module, 2, Owner, "Initializing MIDI");
    clock.Sleep(c.openFor);
    if (c.textHold != 0) SetProgressText(window, c.textHold, "Port A");
    CloseProgressWindow(window, c.minimum);
    EXPECT_EQ(Now() - opened, c.closedAt) << c.openFor << "/" << c.minimum;
    EXPECT_EQ(EventsOf(Kind::Close).back().at, opened + c.closedAt);
  }
}

class ProgressWindowWrapTest : public ProgressWindowTest {
 protected:
  ProgressWindowWrapTest() : ProgressWindowTest(0xFFFFFF00u) {}
};

TEST_F(ProgressWindowWrapTest, HoldAndMinimumDisplayAcrossTheTickCounterWrap) {
  ProgressWindow* window = OpenProgressWindow(Module, 2, nullptr, "x");
  clock.Sleep(0xC0);  // now 0xFFFFFFC0: the hold ends past the wrap
  SetProgressText(window, 200, "before the wrap");
  SetProgressText(window, 200, "after the wrap");
  EXPECT_EQ(Now(), 0x88u);  // 0xFFFFFFC0 + 200
  CloseProgressWindow(window, 0x200);
  EXPECT_EQ(Now(), 0x100u);  // 0xFFFFFF00 + 0x200
}

class ProgressWindowUpperHalfTest : public ProgressWindowTest {
 protected:
  ProgressWindowUpperHalfTest() : ProgressWindowTest(0x80000010u) {}
};

// With the tick counter past 2^31 a hold "until 0" would read as 25 days away.
TEST_F(ProgressWindowUpperHalfTest, FirstTextDoesNotWaitWhenTheCounterIsPastHalfway) {
  ProgressWindow* window = OpenProgressWindow(Module, 2, nullptr, "x");
  SetProgressText(window, 100, "a");
  EXPECT_EQ(Now(), 0x80000010u);
  CloseProgressWindow(window, 0);
}

// ---- text lines -------------------------------------------------------------

TEST_F(ProgressWindowTest, TextLinesFollowTheLineFeeds) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"Checking Device State...", {"Checking Device State..."}},
      {"one\ntwo\nthree", {"one", "two", "three"}},
      {"one\n\ntwo", {"one"}},         // an empty line ends the list
      {"one\ntwo\n", {"one", "two"}},  // a trailing line feed adds nothing
      {"\none", {}},                   // the first line is already empty
      {"", {}},
      {"Flashing in Progress\nDo not turn off Power or Cancel this\nApplication during the Upload!",
       {"Flashing in Progress", "Do not turn off Power or Cancel this",
        "Application during the Upload!"}},
  };
  for (const Case& c : cases) {
    ProgressWindow* window = OpenProgressWindow(Module, 0, nullptr, c.text);
    ASSERT_NE(window, nullptr) << c.text;
    std::vector<std::string> lines;
    for (std::string_view line : ProgressTextLines(*window)) lines.emplace_back(line);
    EXPECT_EQ(lines, c.lines) << c.text;
    CloseProgressWindow(window, 0);
  }
  const auto opens = EventsOf(Kind::Open);
  ASSERT_EQ(opens.size(), std::size(cases));
  EXPECT_EQ(opens[1].lines, cases[1].lines);
}

// The magic's four bytes read "hspS" in memory order.
TEST_F(ProgressWindowTest, RecordStartsWithTheMagic) {
  ProgressWindow* window = OpenProgressWindow(Module, 3, Owner, "x");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(std::memcmp(window, "hspS", 4), 0);
  const auto opens = EventsOf(Kind::Open);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].mode, 3u);
  EXPECT_EQ(opens[0].owner, Owner);
  CloseProgressWindow(window, 0);
}

// ---- status text ------------------------------------------------------------

TEST_F(ProgressWindowTest, StatusTextIsCutAt127Characters) {
  ProgressWindow* window = OpenProgressWindow(Module, 2, nullptr, "x");
  char status[ProgressStatusSize];
  ReadProgressStatus(*window, status);
  EXPECT_STREQ(status, "");  // empty at open

  const std::string longText(200, 'a');
  struct Case {
    const char* text;
    std::string stored;
  };
  const std::string exact127(127, 'b');
  const std::string exact128(128, 'c');
  const Case cases[] = {
      {longText.c_str(), std::string(127, 'a')},
      {exact127.c_str(), exact127},
      {exact128.c_str(), std::string(127, 'c')},
      {"short", "short"},  // a shorter text leaves nothing of the longer one
      {"!", "!"},
      {nullptr, ""},  // a missing text empties the line
      {"!Retry...", "!Retry..."},
  };
  for (const Case& c : cases) {
    SetProgressText(window, 0, c.text);
    ReadProgressStatus(*window, status);
    EXPECT_EQ(std::string(status), c.stored);
    EXPECT_EQ(window->statusText[ProgressStatusSize - 1].load(), '\0');
  }
  const auto texts = EventsOf(Kind::Text);
  ASSERT_EQ(texts.size(), std::size(cases));
  EXPECT_EQ(texts[0].text.size(), 127u);
  EXPECT_EQ(texts[5].text, "");
  CloseProgressWindow(window, 0);
}

TEST_F(ProgressWindowTest, PositionIsStoredAndRepaintedWithoutWaiting) {
  ProgressWindow* window = OpenProgressWindow(Module, 3, nullptr, "x");
  SetProgressText(window, 200, "held");
  const std::uint32_t before = Now();
  SetProgressPosition(window, 1, 4);
  SetProgressPosition(window, 336043, 336043);
  EXPECT_EQ(Now(), before);  // never blocks, even under a text hold
  EXPECT_EQ(window->position.load(), 336043u);
  EXPECT_EQ(window->total.load(), 336043u);
  const auto positions = EventsOf(Kind::Position);
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(positions[0].position, 1u);
  EXPECT_EQ(positions[0].total, 4u);
  CloseProgressWindow(window, 0);
}

// ---- handles that are none or not a window ------------------------------------

TEST_F(ProgressWindowTest, NoneAndForeignHandlesAreIgnored) {
  alignas(ProgressWindow) unsigned char foreign[sizeof(ProgressWindow) + 8] = {};
  std::memcpy(foreign, "xCxS", 4);  // another record's magic
  auto* wrong = reinterpret_cast<ProgressWindow*>(foreign);
  unsigned char copy[sizeof foreign];
  std::memcpy(copy, foreign, sizeof foreign);

  for (ProgressWindow* handle : {static_cast<ProgressWindow*>(nullptr), wrong}) {
    const std::uint32_t before = Now();
    SetProgressText(handle, 200, "text");
    SetProgressText(handle, 200, "text");
    SetProgressPosition(handle, 1, 2);
    CloseProgressWindow(handle, 1000);
    EXPECT_EQ(Now(), before);
  }
  EXPECT_EQ(std::memcmp(foreign, copy, sizeof foreign), 0);  // nothing written
  EXPECT_TRUE(view.Events().empty());
  EXPECT_TRUE(dialogs.EnableCalls().empty());
  EXPECT_EQ(dialogs.InputDiscards(), 0);
}

TEST_F(ProgressWindowTest, NoneTextOpensNothing) {
  EXPECT_EQ(OpenProgressWindow(Module, 3, Owner, nullptr), nullptr);
  EXPECT_EQ(view.Started(), 0);
  EXPECT_TRUE(dialogs.EnableCalls().empty());
}

// ---- the owner ----------------------------------------------------------------

using EnableCall = std::pair<platform::WindowHandle, bool>;

TEST_F(ProgressWindowTest, OwnerIsDisabledWhileOpenAndEnabledAtClose) {
  ProgressWindow* window = OpenProgressWindow(Module, 3, Owner, "x");
  EXPECT_EQ(dialogs.EnableCalls(), (std::vector<EnableCall>{{Owner, false}}));
  EXPECT_EQ(dialogs.InputDiscards(), 0);
  CloseProgressWindow(window, 0);
  EXPECT_EQ(dialogs.EnableCalls(), (std::vector<EnableCall>{{Owner, false}, {Owner, true}}));
  EXPECT_EQ(dialogs.InputDiscards(), 1);
}

// Dialogs that log the order of the calls the close makes.
class OrderDialogs final : public platform::Dialogs {
 public:
  int MessageBox(platform::WindowHandle, const char*, const char*, std::uint32_t) override {
    return platform::IdOk;
  }
  void EnableWindow(platform::WindowHandle, bool enable) override {
    calls.push_back(enable ? "enable" : "disable");
  }
  bool EscapeHeld() override { return false; }
  void DiscardQueuedInput() override { calls.push_back("discard"); }
  std::vector<std::string> calls;
};

TEST_F(ProgressWindowTest, QueuedInputIsDiscardedBeforeTheOwnerIsEnabled) {
  OrderDialogs order;
  platform::Services services = platform::Installed();
  services.dialogs = &order;
  platform::Install(services);
  CloseProgressWindow(OpenProgressWindow(Module, 0, Owner, "x"), 0);
  EXPECT_EQ(order.calls, (std::vector<std::string>{"disable", "discard", "enable"}));
}

TEST_F(ProgressWindowTest, WithoutOwnerNothingIsEnabledOrDiscarded) {
  ProgressWindow* window = OpenProgressWindow(Module, 3, nullptr, "x");
  CloseProgressWindow(window, 0);
  EXPECT_TRUE(dialogs.EnableCalls().empty());
  EXPECT_EQ(dialogs.InputDiscards(), 0);
}

TEST_F(ProgressWindowTest, ThreadThatCannotStartReEnablesTheOwnerAndFreesTheRecord) {
  view.FailNextStarts(1);
  const std::uint32_t before = Now();
  EXPECT_EQ(OpenProgressWindow(Module, 2, Owner, "Initializing MIDI"), nullptr);
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(dialogs.EnableCalls(), (std::vector<EnableCall>{{Owner, false}, {Owner, true}}));
  EXPECT_EQ(view.Started(), 1);
  EXPECT_EQ(view.Released(), 1);
  EXPECT_TRUE(view.Events().empty());  // no window, no close
  // The next open works again.
  ProgressWindow* window = OpenProgressWindow(Module, 2, Owner, "Initializing MIDI");
  EXPECT_NE(window, nullptr);
  CloseProgressWindow(window, 0);
}

TEST_F(ProgressWindowTest, WithoutAViewTheOpenFailsLikeAThreadThatCannotStart) {
  platform::Services services = platform::Installed();
  services.progress = nullptr;
  platform::Install(services);
  EXPECT_EQ(OpenProgressWindow(Module, 3, Owner, "Scanning MIDI Devices, please wait!"), nullptr);
  EXPECT_EQ(dialogs.EnableCalls(), (std::vector<EnableCall>{{Owner, false}, {Owner, true}}));
}

// ---- windows that come up late or do not end ------------------------------------

TEST_F(ProgressWindowTest, OpenWaitsAtMostOneSecondForTheWindow) {
  view.NeverReadyNextWindows(1);
  const std::uint32_t before = Now();
  ProgressWindow* window = OpenProgressWindow(Module, 0, nullptr, "Checking Device State...");
  ASSERT_NE(window, nullptr);  // returned whether or not the window came
  EXPECT_EQ(Now(), before + 1000);
  CloseProgressWindow(window, 0);
  EXPECT_EQ(view.Released(), 1);
}

TEST_F(ProgressWindowTest, ThreadThatDoesNotEndKeepsTheRecordUntilItEnds) {
  view.HangNextWindows(1);
  ProgressWindow* window = OpenProgressWindow(Module, 3, Owner, "x");
  CloseProgressWindow(window, 0);
  // The caller goes on and the owner is usable again ...
  EXPECT_EQ(dialogs.EnableCalls().back(), (EnableCall{Owner, true}));
  // ... but the record is the hung thread's until it ends.
  EXPECT_EQ(view.Released(), 0);
  EXPECT_EQ(window->magic, ProgressWindowMagic);
  EXPECT_TRUE(window->closeRequested.load());
  view.EndHungThreads();
  EXPECT_EQ(view.Released(), 1);
}

// ---- following a window from outside ---------------------------------------------

TEST_F(ProgressWindowTest, ObserverSeesEveryEventAsItHappens) {
  std::vector<std::pair<Kind, std::uint32_t>> seen;
  view.SetObserver([&](const ProgressEvent& event) { seen.emplace_back(event.kind, event.at); });
  const std::uint32_t opened = Now();
  ProgressWindow* window =
      OpenProgressWindow(Module, 3, Owner, "Scanning MIDI Devices, please wait!");
  SetProgressPosition(window, 1, 2);
  SetProgressText(window, 100, "Out 1");
  SetProgressPosition(window, 2, 2);
  SetProgressText(window, 100, "Out 2");
  CloseProgressWindow(window, 0);
  const std::vector<std::pair<Kind, std::uint32_t>> expected = {
      {Kind::Open, opened},     {Kind::Position, opened},   {Kind::Text, opened},
      {Kind::Position, opened}, {Kind::Text, opened + 100}, {Kind::Close, opened + 100}};
  EXPECT_EQ(seen, expected);
  const auto events = view.Events();
  ASSERT_EQ(events.size(), expected.size());
  for (const ProgressEvent& event : events) EXPECT_EQ(event.window, 1);
}

}  // namespace
