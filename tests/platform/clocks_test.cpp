// The simulated clocks every wait goes through: the virtual clock's order of
// events, also across the wrap of its counter, and the paced clock's real
// pauses with the remainder carried.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/sim/paced_clock.h"

TEST(Clocks, VirtualTimeRunsDueEventsInOrder) {
  const std::uint32_t start = 0xFFFFFFF0u;
  sim::VirtualClock clock(start);
  std::vector<std::string> log;
  const auto note = [&](std::string what) {
    return [&, what] { log.push_back(what + " @" + std::to_string(clock.TickCount() - start)); };
  };
  clock.Schedule(start + 21, note("after the wrap"));
  clock.Schedule(start + 10, note("a"));
  clock.Schedule(start + 10, note("b"));  // the same time: in scheduling order
  clock.Schedule(start - 256, note("past due"));
  clock.Schedule(start + 12, [&] { clock.ScheduleAfter(3, note("scheduled by an event")); });
  clock.Schedule(start + 33, note("too late"));
  clock.Sleep(32);
  EXPECT_EQ(log, (std::vector<std::string>{"past due @0", "a @10", "b @10",
                                           "scheduled by an event @15", "after the wrap @21"}));
  EXPECT_EQ(clock.TickCount(), start + 32);
}

TEST(Clocks, PacedTimeCarriesTheRemainderOfItsRealPauses) {
  sim::VirtualClock virtualClock, fake;
  fake.RecordSleeps(true);
  sim::PacedClock paced(virtualClock, fake, 16);
  for (int i = 0; i < 8; ++i) paced.Sleep(20);  // 20/16 leaves 4 behind each time
  std::vector<std::uint32_t> pauses;
  for (const auto& sleep : fake.Sleeps()) pauses.push_back(sleep.ms);
  EXPECT_EQ(pauses, (std::vector<std::uint32_t>{1, 1, 1, 2, 1, 1, 1, 2}));
  EXPECT_EQ(paced.TickCount(), 160u);
}
