// The scan against virtual Tarvonics on two inputs and two outputs: who is
// found, which records the clean-up passes keep, what the progress window
// and the boxes show, and how long it takes.
#include "tests/device/device_fixture.h"

namespace {

const auto Owner = reinterpret_cast<platform::WindowHandle>(0x5CA9);

struct Instrument {
  emulator::TarvonicConfig config;
  std::vector<std::uint32_t> outputs;
};

struct Case {
  const char* name;
  std::vector<Instrument> instruments;
  std::vector<std::uint32_t> disabled;  // device words of ports switched off
  std::int32_t answered;
  Strings records;  // "output input channel model version", in list order
  Strings captions;
  std::uint32_t ms;  // the scan's duration
};

class ScanTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(2, 2);
    Init();
  }
  Strings Records() const {
    Strings records;
    for (const DetectedDevice* d = DeviceList; d != nullptr; d = d->next) {
      records.push_back(std::string(PortName(d->outputPort)) + " " + std::string(PortName(d->inputPort)) + " " +
                        std::to_string(d->channel) + " " + d->model->name + " " + d->version);
    }
    return records;
  }
};

TEST_F(ScanTest, FindsInstrumentsAndCleansUpTheRecords) {
  using Q = std::optional<std::uint8_t>;
  const std::uint32_t Out0 = PortOutputMark, Out1 = PortOutputMark | 1;
  // An output without an answer takes 200 ms (the Identity Request, then the
  // model queries), one with an answer 100 ms.
  const Case cases[] = {
      {"one instrument", {{{.deviceId = 3}, {0}}}, {}, 1, {"Out 0 In 0 3 Tarvonic 1.90"}, {}, 300},
      {"answers a model query only", {{{.answersIdentity = false, .answersModelQuery = Q{0x2B}}, {1}}}, {}, 1,
       {"Out 1 In 0 15 Tarvonic 1.ff"}, {}, 400},
      {"an unknown model", {{{.modelId = 0x2B, .answersIdentity = false, .answersModelQuery = Q{0x2B}}, {0}}}, {}, 1,
       {"Out 0 In 0 15 Unknown 1.ff"}, {}, 400},
      {"two instruments on each output", {{{.deviceId = 0}, {0, 1}}, {{.deviceId = 1}, {0, 1}}}, {}, 2, {},
       {"Ambiguous Port Assignment"}, 200},
      {"one instrument answering on two inputs", {{{.replyInputs = {0, 1}}, {0}}}, {}, 1, {},
       {"Ambiguous Port Assignment"}, 300},
      {"one instrument through two outputs", {{{.deviceId = 4}, {0, 1}}}, {}, 2, {"Out 0 In 0 4 Tarvonic 1.90"}, {},
       200},
      {"two on different inputs", {{{.deviceId = 4}, {0}}, {{.deviceId = 4, .replyInputs = {1}}, {1}}}, {}, 2,
       {"Out 0 In 0 4 Tarvonic 1.90", "Out 1 In 1 4 Tarvonic 1.90"}, {}, 200},
      {"two on different channels", {{{.deviceId = 4}, {0}}, {{.deviceId = 5}, {1}}}, {}, 2,
       {"Out 0 In 0 4 Tarvonic 1.90", "Out 1 In 0 5 Tarvonic 1.90"}, {}, 200},
      {"answering on a disabled input only", {{{.replyInputs = {1}}, {0}}}, {1}, 0, {}, {}, 400},
      {"answering on a disabled input too", {{{.replyInputs = {1, 0}}, {0}}}, {1}, 1,
       {"Out 0 In 0 0 Tarvonic 1.90"}, {}, 300},
      {"a disabled output is not asked", {{{}, {0}}}, {Out0}, 0, {}, {}, 200},
      {"no enabled output", {{{}, {0}}}, {Out0, Out1}, 0, {}, {"No Output selected"}, 0},
      {"no enabled input", {{{}, {0}}}, {0, 1}, 0, {}, {"No Input selected"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    for (MidiPort* port = PortList; port != nullptr; port = port->next) port->flags.fetch_or(PortEnabled);
    for (const std::uint32_t word : c.disabled) Port(word)->flags.fetch_and(~PortEnabled);
    for (const Instrument& i : c.instruments) AddTarvonic(i.config, i.outputs);
    const std::size_t sent = world.midi.Sent(0).size() + world.midi.Sent(1).size();
    const std::uint32_t start = world.clock.TickCount();
    EXPECT_EQ(ScanDevices(Owner), c.answered);
    EXPECT_EQ(world.clock.TickCount() - start, c.ms);
    EXPECT_EQ(Records(), c.records);
    Strings outputs;  // each enabled output is shown while it is asked
    for (const MidiPort* port = PortList; port != nullptr; port = port->next)
      if ((port->flags & (PortEnabled | PortInput)) == PortEnabled && c.ms > 0) outputs.emplace_back(PortName(port));
    EXPECT_EQ(Texts(), outputs);
    Strings captions;
    for (const sim::BoxRecord& box : Boxes()) {
      captions.push_back(box.caption);
      EXPECT_EQ(box.owner, Owner);
      EXPECT_EQ(box.flags, platform::BoxOk);
    }
    EXPECT_EQ(captions, c.captions);
    if (c.ms == 0) {
      EXPECT_EQ(world.midi.Sent(0).size() + world.midi.Sent(1).size(), sent) << "nothing asked";
    }
    EXPECT_EQ(world.dialogs.EnableCalls().back(), std::make_pair(Owner, true)) << "the page enabled at the end";
  }
}

}  // namespace
