// The progress window's record and operations on the virtual clock, the
// scripted dialogs and the recording view: every wait is exact to the
// millisecond and every window is followed from its open to its free.
#include "ui/progress_window.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/recording_progress_view.h"
#include "platform/sim/scripted_dialogs.h"
#include "platform/sim/virtual_clock.h"
#include "ui/progress_window_record.h"

namespace {

using sim::ProgressEvent;
using Kind = sim::ProgressEvent::Kind;

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
  sim::RecordingProgressView view;
};

// ---- hold times -------------------------------------------------------------

TEST_F(ProgressWindowTest, FirstTextAfterOpenDoesNotWait) {
  ProgressWindow* window = OpenProgressWindow(Module, 2, nullptr, "Initializing MIDI");
  ASSERT_NE(window, nullptr);
  const std::uint32_t opened = Now();
  SetProgressText(window, 200, "Port A");
  EXPECT_EQ(Now(), opened);
  CloseProgressWindow(window, 0);
}

TEST_F(ProgressWindowTest, SecondTextWaitsExactlyForTheFirstTextsHold) {
  ProgressWindow* window = OpenProgressWindow(Module, 3, nullptr, "Flashing");
  SetProgressText(window, 200, "first");
  const std::uint32_t first = Now();
  clock.Sleep(30);  // the caller did other work meanwhile
  SetProgressText(window, 200, "second");
  EXPECT_EQ(Now(), first + 200);
  SetProgressText(window, 0, "third");
  EXPECT_EQ(Now(), first + 400);
  SetProgressText(window, 50, "fourth");  // the previous hold was 0
  EXPECT_EQ(Now(), first + 400);
  CloseProgressWindow(window, 0);

  const auto texts = EventsOf(Kind::Text);
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0].text, "first");
  EXPECT_EQ(texts[0].holdMs, 200u);
  EXPECT_EQ(texts[1].at, first + 200);
  EXPECT_EQ(texts[2].holdMs, 0u);
  EXPECT_EQ(texts[3].text, "fourth");
  EXPECT_EQ(texts[3].holdMs, 50u);
}

TEST_F(ProgressWindowTest, ExpiredHoldDoesNotWait) {
  ProgressWindow* window = OpenProgressWindow(Module, 2, nullptr, "x");
  SetProgressText(window, 100, "a");
  clock.Sleep(250);
  const std::uint32_t before = Now();
  SetProgressText(window, 100, "b");
  EXPECT_EQ(Now(), before);
  CloseProgressWindow(window, 0);
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

// ---- minimum display ---------------------------------------------------------

TEST_F(ProgressWindowTest, CloseRightAfterOpenKeepsTheWindowForTheMinimum) {
  const std::uint32_t opened = Now();
  ProgressWindow* window = OpenProgressWindow(Module, 2, Owner, "Initializing MIDI");
  CloseProgressWindow(window, 300);
  EXPECT_EQ(Now(), opened + 300);
  const auto closes = EventsOf(Kind::Close);
  ASSERT_EQ(closes.size(), 1u);
  EXPECT_EQ(closes[0].at, opened + 300);
}

TEST_F(ProgressWindowTest, CloseDoesNotWaitForTheLastTextsHold) {
  const std::uint32_t opened = Now();
  ProgressWindow* window = OpenProgressWindow(Module, 3, nullptr, "Flashing");
  clock.Sleep(100);
  SetProgressText(window, 200, "!Error");
  CloseProgressWindow(window, 0);
  EXPECT_EQ(Now(), opened + 100);
}

TEST_F(ProgressWindowTest, MinimumAlreadyPassedClosesAtOnce) {
  const std::uint32_t opened = Now();
  ProgressWindow* window = OpenProgressWindow(Module, 2, nullptr, "x");
  clock.Sleep(500);
  CloseProgressWindow(window, 300);
  EXPECT_EQ(Now(), opened + 500);
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

TEST_F(ProgressWindowTest, OpenRecordsModeOwnerAndModule) {
  ProgressWindow* window =
      OpenProgressWindow(Module, 3, Owner, "Scanning MIDI Devices, please wait!");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(std::memcmp(window, "hspS", 4), 0);  // the magic's bytes in memory order
  EXPECT_EQ(window->module, Module);
  EXPECT_EQ(window->mode, 3u);
  EXPECT_EQ(window->owner, Owner);
  EXPECT_EQ(window->openedAt, Now());
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

TEST_F(ProgressWindowTest, WindowsAreNumberedInOpeningOrder) {
  ProgressWindow* first = OpenProgressWindow(Module, 2, nullptr, "Initializing MIDI");
  CloseProgressWindow(first, 0);
  ProgressWindow* second = OpenProgressWindow(Module, 0, nullptr, "Checking Device State...");
  SetProgressText(second, 0, "ignored by mode 0, still recorded");
  CloseProgressWindow(second, 0);
  const auto events = view.Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].window, 1);
  EXPECT_EQ(events[1].window, 1);
  EXPECT_EQ(events[2].window, 2);
  EXPECT_EQ(events[2].lines, std::vector<std::string>{"Checking Device State..."});
  EXPECT_EQ(events[4].kind, Kind::Close);
  EXPECT_EQ(events[4].window, 2);
}

}  // namespace
