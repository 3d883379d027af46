// The simulated build's paced clock: virtual time as the virtual clock alone
// would give it, and real pauses of the virtual time divided by the scale.
// The "real" clock here is a second virtual clock, so that the pauses can be
// read off exactly.
#include <gtest/gtest.h>
#include <vector>

#include "platform/sim/paced_clock.h"

namespace {

std::vector<std::uint32_t> Durations(const sim::VirtualClock& clock) {
  std::vector<std::uint32_t> out;
  for (const auto& sleep : clock.Sleeps()) out.push_back(sleep.ms);
  return out;
}

struct PacedClockTest : ::testing::Test {
  PacedClockTest() { real.RecordSleeps(true); }
  sim::VirtualClock virtualClock{1000};
  sim::VirtualClock real;
};

TEST_F(PacedClockTest, RealPausesAreTheVirtualSpanOverTheScaleWithTheRemainderCarried) {
  sim::PacedClock clock(virtualClock, real, 16);
  for (int i = 0; i < 16; ++i) clock.Sleep(20);
  EXPECT_EQ(clock.TickCount(), 1000u + 320u);
  // 20/16 leaves 4 behind each time; every fourth sleep pays two.
  EXPECT_EQ(Durations(real), (std::vector<std::uint32_t>{1, 1, 1, 2, 1, 1, 1, 2, 1, 1, 1, 2, 1, 1, 1, 2}));
  EXPECT_EQ(real.TickCount(), 20u);
}

TEST_F(PacedClockTest, ShortSleepsAddUpBeforeAnyRealPause) {
  sim::PacedClock clock(virtualClock, real, 10);
  for (int i = 0; i < 9; ++i) clock.Sleep(1);
  EXPECT_TRUE(real.Sleeps().empty());
  clock.Sleep(1);
  clock.Sleep(0);
  EXPECT_EQ(Durations(real), (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(clock.TickCount(), 1010u);
}

TEST_F(PacedClockTest, ScaleOneAndBelowIsRealTime) {
  for (std::uint32_t scale : {0u, 1u}) {
    sim::VirtualClock fresh;
    sim::VirtualClock freshReal;
    freshReal.RecordSleeps(true);
    sim::PacedClock clock(fresh, freshReal, scale);
    EXPECT_EQ(clock.Scale(), 1u);
    clock.Sleep(7);
    clock.Sleep(300);
    EXPECT_EQ(Durations(freshReal), (std::vector<std::uint32_t>{7, 300})) << scale;
  }
}

TEST_F(PacedClockTest, EventsRunInVirtualTimeAsWithoutPacing) {
  sim::PacedClock clock(virtualClock, real, 100);
  std::vector<std::uint32_t> ranAt;
  virtualClock.Schedule(1050, [&] { ranAt.push_back(virtualClock.TickCount()); });
  virtualClock.Schedule(1150, [&] { ranAt.push_back(virtualClock.TickCount()); });
  clock.Sleep(100);
  EXPECT_EQ(ranAt, (std::vector<std::uint32_t>{1050}));
  clock.Sleep(100);
  EXPECT_EQ(ranAt, (std::vector<std::uint32_t>{1050, 1150}));
  EXPECT_EQ(Durations(real), (std::vector<std::uint32_t>{1, 1}));
}

}  // namespace
