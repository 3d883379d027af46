// The native real clock: a sleep never ends early, and the tick counter runs
// in milliseconds with it.
#include <chrono>
#include <gtest/gtest.h>

#include "platform/real_clock.h"

TEST(RealClock, TicksFollowASleep) {
  platform::RealClock clock;
  const auto before = std::chrono::steady_clock::now();
  const std::uint32_t ticksBefore = clock.TickCount();
  clock.Sleep(20);
  const std::uint32_t ticksAfter = clock.TickCount();
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
  // Each reading truncates to whole milliseconds: at most 1 ms is lost.
  EXPECT_GE(platform::TickDiff(ticksAfter, ticksBefore), 19);
}
