#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/sim/virtual_clock.h"

namespace {

TEST(VirtualClock, SleepRunsDueEventsInOrderAtTheirTime) {
  sim::VirtualClock clock(1000);
  std::vector<std::string> log;
  auto note = [&](const char* what) { log.push_back(std::string(what) + "@" + std::to_string(clock.TickCount())); };
  clock.Schedule(1030, [&] { note("c"); });
  clock.Schedule(1010, [&] { note("a"); });
  clock.Schedule(1010, [&] { note("b"); });  // same time: scheduling order
  clock.Schedule(1031, [&] { note("late"); });
  clock.Sleep(30);
  EXPECT_EQ(log, (std::vector<std::string>{"a@1010", "b@1010", "c@1030"}));
  EXPECT_EQ(clock.TickCount(), 1030u);
  EXPECT_EQ(clock.PendingEvents(), 1u);
}

TEST(VirtualClock, EventsMayScheduleFurtherEventsWithinTheSameSleep) {
  sim::VirtualClock clock;
  std::vector<std::uint32_t> at;
  clock.Schedule(5, [&] {
    at.push_back(clock.TickCount());
    clock.ScheduleAfter(3, [&] { at.push_back(clock.TickCount()); });
  });
  clock.Sleep(10);
  EXPECT_EQ(at, (std::vector<std::uint32_t>{5, 8}));
}

TEST(VirtualClock, PastDueEventsRunAtTheCurrentTime) {
  sim::VirtualClock clock(50);
  std::uint32_t ranAt = 0;
  clock.Schedule(10, [&] { ranAt = clock.TickCount(); });
  clock.Sleep(0);
  EXPECT_EQ(ranAt, 50u);
}

TEST(VirtualClock, KeepsOrderAcrossTheCounterWrap) {
  sim::VirtualClock clock(0xFFFFFFF0u);
  std::vector<int> order;
  clock.Schedule(0x00000005u, [&] { order.push_back(2); });
  clock.Schedule(0xFFFFFFFAu, [&] { order.push_back(1); });
  clock.Sleep(0x20);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(clock.TickCount(), 0x10u);
}

TEST(VirtualClock, SettleRunsAfterEveryEventAndSleepsAreRecorded) {
  sim::VirtualClock clock;
  int settled = 0;
  clock.SetSettle([&] { ++settled; });
  clock.RecordSleeps(true);
  clock.Schedule(1, [] {});
  clock.Schedule(2, [] {});
  clock.Sleep(20);
  clock.Sleep(23);
  EXPECT_EQ(settled, 2);
  const auto sleeps = clock.Sleeps();
  ASSERT_EQ(sleeps.size(), 2u);
  EXPECT_EQ(sleeps[0].at, 0u);
  EXPECT_EQ(sleeps[0].ms, 20u);
  EXPECT_EQ(sleeps[1].at, 20u);
  EXPECT_EQ(sleeps[1].ms, 23u);
}

}  // namespace
