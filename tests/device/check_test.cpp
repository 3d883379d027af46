// The boot-loader check against a virtual Tarvonic, without wire time: which
// answers count, how long the wait lasts, and what Escape does.
#include "tests/device/device_fixture.h"

namespace {

const auto Owner = reinterpret_cast<platform::WindowHandle>(0xC4EC);

class CheckTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(1, 1);
    Init();
    world.midi.SetOutputByteRate(0);
    world.midi.SetInputByteRate(0);
  }
};

TEST_F(CheckTest, AnyStatusReplyInTimeCountsAndNothingElseDoes) {
  struct Case {
    const char* name;
    emulator::TarvonicConfig config;
    std::uint32_t delay;       // of the instrument's answer
    std::uint32_t escapeFrom;  // Escape held from then on
    std::int32_t result;
    std::size_t steps;  // 100-ms steps of the wait after the request's 20-ms pause
  };
  constexpr std::uint32_t Never = 1u << 30;
  const Case cases[] = {
      {"code 0", {}, 2, Never, 1, 0},
      {"code 4", {.stateStatusCode = 4}, 2, Never, 1, 0},
      {"code 7Fh", {.stateStatusCode = 0x7F}, 2, Never, 1, 0},
      {"a state reply alone", {.stateStatusCode = std::nullopt, .sendsStateReply = true}, 2, Never, 0, 10},
      {"not in the boot loader", {.inBootLoader = false}, 2, Never, 0, 10},
      // Polls at 20, 120, ..., 920; the last step ends at 1,020 with a look.
      {"answer at 919 ms", {}, 919, Never, 1, 9},
      {"answer in the last step", {}, 1020, Never, 1, 10},
      {"answer after the last step", {}, 1021, Never, 0, 10},
      {"Escape held from the start", {}, 500, 0, 0, 0},
      {"Escape from 21 ms", {}, 500, 21, 0, 1},
      {"Escape from 250 ms", {}, 500, 250, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    AddTarvonic(c.config).SetFaultScript(AnswerAfter(0x11, c.delay));
    const std::uint32_t start = world.clock.TickCount();
    world.dialogs.SetEscape([&] { return world.clock.TickCount() - start >= c.escapeFrom; });
    world.clock.ClearSleeps();
    world.clock.RecordSleeps(true);
    DetectedDevice device = Device();
    EXPECT_EQ(CheckBootLoader(Owner, &device), c.result);
    world.clock.RecordSleeps(false);
    EXPECT_EQ(world.clock.Sleeps().size(), 1 + c.steps);
    EXPECT_EQ(Sent(), std::vector<Bytes>{Bytes(StateRequest.begin(), StateRequest.end())});
    EXPECT_EQ(In(0)->listeners, nullptr) << "both listeners removed";
    const std::vector<sim::BoxRecord> shown = Boxes();
    ASSERT_EQ(shown.size(), c.result == 1 ? 0u : 1u);
    if (c.result == 0) {
      EXPECT_EQ(shown[0].caption, "Warning: Wrong State");
      EXPECT_EQ(shown[0].owner, Owner);
    }
    world.clock.Sleep(2000);  // a late answer comes and goes unheard
  }
}

}  // namespace
