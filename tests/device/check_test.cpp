// The boot-loader check against a virtual Tarvonic: which answers count, how
// long the wait lasts, and what Escape does.
#include "device/messages.h"
#include "tests/device/device_fixture.h"

using namespace device;

namespace {

const auto Owner = reinterpret_cast<platform::WindowHandle>(0xC4EC);
constexpr char WrongStateText[] =
    "Device not in Bootloader Mode!\r\n"
    "Please power cycle the unit holding START and FX-BYPASS pressed\r\n"
    "and then restart this application!";

class CheckTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(1, 1);
    Init();
    // Exact times: no wire delays, the instrument answers after its delay.
    world.midi.SetOutputByteRate(0);
    world.midi.SetInputByteRate(0);
  }
  std::int32_t Check() {
    device = Device(0, 0);
    boxesBefore = world.dialogs.Boxes().size();
    world.clock.ClearSleeps();
    world.clock.RecordSleeps(true);
    start = world.clock.TickCount();
    const std::int32_t result = CheckBootLoader(Owner, &device);
    world.clock.RecordSleeps(false);
    return result;
  }
  // The sleeps of the wait: everything after the state request's 20-ms pause.
  std::vector<std::uint32_t> WaitSleeps() const {
    std::vector<std::uint32_t> ms;
    for (const auto& s : world.clock.Sleeps()) ms.push_back(s.ms);
    if (!ms.empty()) ms.erase(ms.begin());
    return ms;
  }
  // Exactly one box since the check started, the wrong-state one.
  void ExpectWrongStateBox() const {
    const std::vector<sim::BoxRecord> boxes = world.dialogs.Boxes();
    ASSERT_EQ(boxes.size(), boxesBefore + 1);
    EXPECT_EQ(boxes.back().caption, "Warning: Wrong State");
    EXPECT_EQ(boxes.back().text, WrongStateText);
    EXPECT_EQ(boxes.back().owner, Owner);
    EXPECT_EQ(boxes.back().flags, platform::BoxOk);
  }
  DetectedDevice device;
  std::uint32_t start = 0;
  std::size_t boxesBefore = 0;
};

TEST_F(CheckTest, AnyStatusReplyCountsWhateverItsCode) {
  for (const std::uint8_t code : std::vector<std::uint8_t>{0, 1, 2, 3, 4, 9, 0x7F}) {
    DetachAll();
    AddTarvonic({.stateStatusCode = code}, {0});
    EXPECT_EQ(Check(), 1) << int(code);
    // Answered within the state request's pause: no step of the wait.
    EXPECT_TRUE(WaitSleeps().empty()) << int(code);
  }
  EXPECT_TRUE(world.dialogs.Boxes().empty());
  EXPECT_EQ(SentMessages(0).size(), 7u);
  EXPECT_EQ(SentMessages(0)[0], Bytes(StateRequest.begin(), StateRequest.end()));
  EXPECT_EQ(In(0)->listeners, nullptr) << "both listeners removed";
}

TEST_F(CheckTest, WithoutAStatusReplyTheWaitEndsAfterTenStepsWithTheWrongStateBox) {
  struct Case {
    const char* name;
    emulator::TarvonicConfig config;
  };
  const Case cases[] = {
      {"a state reply alone", {.stateStatusCode = std::nullopt, .sendsStateReply = true}},
      {"not in the boot loader", {.inBootLoader = false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetachAll();
    AddTarvonic(c.config, {0});
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(WaitSleeps(), std::vector<std::uint32_t>(10, 100));
    EXPECT_EQ(world.clock.TickCount() - start, 20u + 1000u);
    ExpectWrongStateBox();
    EXPECT_EQ(In(0)->listeners, nullptr);
  }
}

TEST_F(CheckTest, EscapeHeldEndsTheWaitAtTheNextStep) {
  // The instrument would answer after 500 ms; Escape goes down earlier.
  struct Case {
    std::uint32_t escapeFrom;  // after the start
    std::size_t steps;
  };
  for (const Case c : {Case{0, 0}, Case{20, 0}, Case{21, 1}, Case{250, 3}}) {
    SCOPED_TRACE(c.escapeFrom);
    DetachAll();
    emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
    tarvonic.SetFaultScript(
        [](const emulator::PacketView&) -> std::optional<emulator::FaultDecision> {
          emulator::FaultDecision d;
          d.delayMs = 500;
          return d;
        });
    world.dialogs.SetEscape([this, c] { return world.clock.TickCount() - start >= c.escapeFrom; });
    EXPECT_EQ(Check(), 0);
    EXPECT_EQ(WaitSleeps(), std::vector<std::uint32_t>(c.steps, 100));
    ExpectWrongStateBox();
    world.clock.Sleep(1000);  // the late answer comes and goes unheard
  }
}

TEST_F(CheckTest, AReplyDuringTheLastStepStillCounts) {
  // Polls at 20, 120, ..., 920; the last step sleeps until 1,020.
  struct Case {
    std::uint32_t delay;
    std::int32_t result;
  };
  for (const Case c : {Case{919, 1}, Case{1000, 1}, Case{1020, 1}, Case{1021, 0}}) {
    SCOPED_TRACE(c.delay);
    DetachAll();
    emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
    tarvonic.SetFaultScript(
        [c](const emulator::PacketView&) -> std::optional<emulator::FaultDecision> {
          emulator::FaultDecision d;
          d.delayMs = c.delay;
          return d;
        });
    EXPECT_EQ(Check(), c.result);
    EXPECT_EQ(world.dialogs.Boxes().size() - boxesBefore, c.result == 1 ? 0u : 1u);
    world.clock.Sleep(100);
  }
}

}  // namespace
