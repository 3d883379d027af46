// The progress window's operations on the virtual clock with the recording
// view: what a window shows and when, to the millisecond (also across the
// tick counter's wrap), what happens to its owner, and windows whose thread
// fails, comes up late or does not end.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/sim/virtual_clock.h"
#include "progress/progress_window.h"
#include "progress/progress_window_record.h"
#include "progress/recording_progress_view.h"

using namespace progress;

namespace {

using Log = std::vector<std::string>;
const auto Owner = reinterpret_cast<platform::WindowHandle>(0x1234);

// The platform of one case, with dialogs that log what is done to the owner.
// Every record handed to the view must have been freed when it goes.
struct Rig : platform::Dialogs {
  explicit Rig(std::uint32_t at = 5000) : start(at), clock(at) { Install(&view); }
  ~Rig() override {
    EXPECT_EQ(view.Live(), 0) << "a record was not freed";
    platform::Install({});
  }
  void Install(platform::ProgressView* v) {
    platform::Install({nullptr, nullptr, &clock, this, v});
  }
  int MessageBox(platform::WindowHandle, const char*, const char*, std::uint32_t) override {
    return 1;
  }
  void EnableWindow(platform::WindowHandle w, bool on) override {
    owner.push_back(std::string(on ? "enable" : "disable") + (w == Owner ? "" : " ?"));
  }
  bool EscapeHeld() override { return false; }
  void DiscardQueuedInput() override { owner.push_back("discard input"); }
  // Every event as "<ms after the start> <what>".
  Log Timeline() const {
    Log lines;
    for (const ProgressEvent& e : view.Events()) {
      const char* kinds[] = {"open", "text", "position", "close"};
      std::string line = std::to_string(e.at - start) + " " + kinds[static_cast<int>(e.kind)];
      for (const std::string& text : e.lines) line += " " + text + "|";
      if (e.kind == ProgressEvent::Kind::Text)
        line += " '" + e.text + "' " + std::to_string(e.holdMs);
      if (e.kind == ProgressEvent::Kind::Position)
        line += " " + std::to_string(e.position) + "/" + std::to_string(e.total);
      lines.push_back(line);
    }
    return lines;
  }
  const std::uint32_t start;
  sim::VirtualClock clock;
  RecordingProgressView view;
  Log owner;
};

// Near the wrap of the tick counter, and past 2^31 where a hold "until 0"
// would read as 25 days away.
TEST(ProgressWindow, ShowsTextsForTheirHoldsAndStaysUpItsMinimumFromTheOpen) {
  for (const std::uint32_t start : {5000u, 0xFFFFFE00u, 0x80000010u}) {
    Rig rig(start);
    ProgressWindow* window = OpenProgressWindow(nullptr, 3, Owner, "one\ntwo\n\nthree");
    SetProgressText(window, 200, "a");                            // the first text does not wait
    rig.clock.Sleep(30);                                          // the caller's own work
    SetProgressText(window, 200, std::string(200, 'b').c_str());  // waits what is left: 170
    SetProgressText(window, 0, "short");                          // nothing left of the longer one
    SetProgressText(window, 50, nullptr);
    rig.clock.Sleep(250);  // the hold ran out meanwhile
    SetProgressText(window, 100, "c");
    rig.clock.Sleep(99);
    SetProgressText(window, 100, "d");  // 1 ms left of the hold
    SetProgressPosition(window, 1, 2);  // never waits
    CloseProgressWindow(window, 1000);  // counted from the open
    ProgressWindow* second = OpenProgressWindow(nullptr, 2, nullptr, "x");
    SetProgressText(second, 500, "held");
    CloseProgressWindow(second, 0);  // a pending hold does not keep it up
    EXPECT_EQ(rig.Timeline(),
              (Log{"0 open one| two|", "0 text 'a' 200",
                   "200 text '" + std::string(127, 'b') + "' 200", "400 text 'short' 0",
                   "400 text '' 50", "650 text 'c' 100", "750 text 'd' 100", "750 position 1/2",
                   "1000 close", "1000 open x|", "1000 text 'held' 500", "1000 close"}))
        << "from " << start;
    EXPECT_EQ(rig.owner, (Log{"disable", "discard input", "enable"}));
  }
}

// Callers go on with the none an open returns when its window cannot start;
// a handle that is not a window (another record) is ignored as well.
TEST(ProgressWindow, AWindowThatCannotStartIsLateOrDoesNotEnd) {
  for (const bool withView : {true, false}) {
    Rig rig;
    rig.view.FailNextStarts(1);
    if (!withView) rig.Install(nullptr);
    ProgressWindow* none = OpenProgressWindow(nullptr, 2, Owner, "Initializing MIDI");
    EXPECT_EQ(none, nullptr);
    alignas(ProgressWindow) unsigned char other[sizeof(ProgressWindow)] = {'x', 'C', 'x', 'S'};
    for (auto* handle : {none, reinterpret_cast<ProgressWindow*>(other)}) {
      SetProgressText(handle, 200, "text");
      SetProgressPosition(handle, 1, 2);
      CloseProgressWindow(handle, 1000);
    }
    EXPECT_EQ(rig.clock.TickCount(), 5000u) << "nothing waited for";
    EXPECT_EQ(rig.owner, (Log{"disable", "discard input", "enable"}));
    EXPECT_TRUE(rig.Timeline().empty());
  }
  Rig rig;
  rig.view.NeverReadyNextWindows(1);
  CloseProgressWindow(OpenProgressWindow(nullptr, 0, nullptr, "late"), 0);
  rig.view.HangNextWindows(1);
  ProgressWindow* hung = OpenProgressWindow(nullptr, 3, Owner, "hung");
  CloseProgressWindow(hung, 0);
  EXPECT_EQ(rig.Timeline(), (Log{"0 open late|", "1000 close", "1000 open hung|", "1000 close"}))
      << "the open waits a second for its window, then goes on";
  EXPECT_EQ(rig.owner.back(), "enable") << "the caller goes on";
  EXPECT_EQ(rig.view.Released(), 1) << "the hung thread keeps its record";
  EXPECT_EQ(hung->magic, ProgressWindowMagic);
  rig.view.EndHungThreads();
  EXPECT_EQ(OpenProgressWindow(nullptr, 3, Owner, nullptr), nullptr) << "no text, no window";
}

}  // namespace
