// The Win32 dialogs' own logic, under Wine (or on Windows): what the user
// clicked while the program was busy is discarded up to the first paint.
// winmm itself is exercised through the test driver in tests/wine/midi_driver.
#include <windows.h>
#undef MessageBox

#include <gtest/gtest.h>

#include "platform/win32/dialogs_win32.h"

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
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
      << "without a paint, all is dropped";
}
