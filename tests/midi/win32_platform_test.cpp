// The Win32 implementations of the seams, run under Wine (or on Windows):
// winmm as it is found, the real clock, and the discarding of queued input.
#include <windows.h>
#undef MessageBox

#include <gtest/gtest.h>

#include "midi/port_registry.h"
#include "tests/midi/transport_testing.h"
#include "platform/services.h"
#include "progress/recording_progress_view.h"
#include "platform/sim/scripted_dialogs.h"
#include "platform/sim/virtual_clock.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/dialogs_win32.h"
#include "platform/win32/midi_driver_win32.h"

using namespace progress;
using namespace midi;

namespace {

// The transport on the real winmm: a system without MIDI devices (as Wine
// has here) gets the configuration message and nothing else.
TEST(WinmmDriver, TheTransportReportsASystemWithoutInputs) {
  win32::WinmmMidiDriver winmm;
  if (winmm.InGetNumDevs() != 0) GTEST_SKIP() << "this system has MIDI inputs";
  sim::VirtualClock clock;
  sim::ScriptedDialogs dialogs;
  progress::RecordingProgressView progress;
  platform::Install({nullptr, &winmm, &clock, &dialogs, &progress});
  EXPECT_EQ(MidiTransportInit(nullptr), 0);
  const auto boxes = dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "No MIDI Inputs are found!");
  EXPECT_EQ(boxes[0].caption, "MIDI Configuration Error");
  EXPECT_TRUE(progress.Events().empty());
  MidiTransportShutdown();
  transport_testing::ResetTransport();
  platform::Install({});
}

TEST(WinmmDriver, OutOfRangeDevicesAreRefusedByWinmm) {
  win32::WinmmMidiDriver winmm;
  platform::MidiOutCaps caps{};
  EXPECT_NE(winmm.OutGetDevCaps(winmm.OutGetNumDevs() + 5, &caps), 0u);
  platform::MidiHandle handle = nullptr;
  EXPECT_NE(winmm.InOpen(&handle, winmm.InGetNumDevs() + 5, nullptr, 0), 0u);
  EXPECT_EQ(handle, nullptr);
}

TEST(Win32Clock, SleepsAndTicksInMilliseconds) {
  win32::Win32Clock clock;
  clock.BeginFineResolution();
  const std::uint32_t before = clock.TickCount();
  clock.Sleep(50);
  const std::int32_t elapsed = platform::TickDiff(clock.TickCount(), before);
  clock.EndFineResolution();
  // A sleep never ends early; the tick counter may step in 16 ms increments.
  EXPECT_GE(elapsed, 50 - 16);
}

TEST(Win32Dialogs, DiscardingStopsAfterTheFirstPaint) {
  win32::Win32Dialogs dialogs;
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // make sure the thread has a queue
  const DWORD thread = GetCurrentThreadId();
  for (UINT posted : {WM_USER + 1u, WM_USER + 2u, UINT{WM_PAINT}, WM_USER + 3u}) {
    ASSERT_TRUE(PostThreadMessageA(thread, posted, 0, 0));
  }
  dialogs.DiscardQueuedInput();
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_USER + 3u);

  ASSERT_TRUE(PostThreadMessageA(thread, WM_USER + 4, 0, 0));
  dialogs.DiscardQueuedInput();
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << "without a paint, all is dropped";
}

}  // namespace
