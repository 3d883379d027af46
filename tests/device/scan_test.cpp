// The scan against virtual Tarvonics: who is found, how records are made,
// cleaned up and looked up, what the progress window and the boxes show, and
// how long it takes.
#include "device/messages.h"
#include "tests/device/device_fixture.h"

using namespace device;

namespace {

const auto Owner = reinterpret_cast<platform::WindowHandle>(0x5CA9);
constexpr char SelectPortsText[] = "Please activate at least one Output and one Input on the Ports-Page!";

std::vector<DetectedDevice> Records() {
  std::vector<DetectedDevice> records;
  for (DetectedDevice* d = DeviceList; d != nullptr; d = d->next) records.push_back(*d);
  return records;
}

class ScanTest : public DeviceTest {
 protected:
  static void Disable(MidiPort* port) { port->flags.fetch_and(~PortEnabled); }
  static void EnableAll() {
    for (MidiPort* port = PortList; port != nullptr; port = port->next) port->flags.fetch_or(PortEnabled);
  }
  std::int32_t Scan() {
    start = world.clock.TickCount();
    return ScanDevices(Owner);
  }
  std::vector<std::string> Boxes() const { return BoxCaptions(); }
  std::uint32_t start = 0;
};

TEST_F(ScanTest, OneInstrumentAnsweringTheIdentityRequest) {
  AddPorts(1, 1);
  Init();
  AddTarvonic({.deviceId = 3, .version = {'1', '.', '9', '0'}}, {0});
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(world.clock.TickCount() - start, 100u);

  const std::vector<DetectedDevice> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].channel, 3);
  EXPECT_EQ(records[0].modelId, TarvonicModelId);
  EXPECT_STREQ(records[0].version, "1.90");
  EXPECT_EQ(records[0].model, LookupModel(TarvonicModelId));
  EXPECT_STREQ(records[0].model->name, "Tarvonic");
  EXPECT_EQ(records[0].inputPort, In(0));
  EXPECT_EQ(records[0].outputPort, Out(0));
  // No model queries after an answer.
  EXPECT_EQ(SentMessages(0), (std::vector<Bytes>{{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}));
  EXPECT_EQ(StatusTexts(), (std::vector<std::string>{"Out 0"}));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(world.dialogs.EnableCalls().back(), std::make_pair(Owner, true));
}

TEST_F(ScanTest, InstrumentAnsweringOnlyAModelQuery) {
  struct Case {
    std::uint8_t model;
    const char* name;
  };
  AddPorts(1, 1);
  Init();
  for (const Case c : {Case{0x41, "Tarvonic"}, Case{0x2B, "Unknown"}}) {
    SCOPED_TRACE(c.name);
    DetachAll();
    const std::size_t before = world.midi.Sent(0).size();
    AddTarvonic({.modelId = c.model, .answersIdentity = false, .answersModelQuery = 0x2B}, {0});
    EXPECT_EQ(Scan(), 1);
    EXPECT_EQ(world.clock.TickCount() - start, 200u);
    const std::vector<DetectedDevice> records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].channel, 15);  // shown as channel 16
    EXPECT_STREQ(records[0].version, "1.ff");
    EXPECT_EQ(records[0].modelId, c.model);
    EXPECT_STREQ(records[0].model->name, c.name);
    // The identity request, then the three queries as one 24-byte buffer.
    std::vector<sim::SentChunk> sent = world.midi.Sent(0);
    sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(before));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].bytes, Bytes(ModelQueries.begin(), ModelQueries.end()));
    EXPECT_EQ(sent[1].sentAt - sent[0].sentAt, 100u);
  }
}

TEST_F(ScanTest, TwoInstrumentsOnOneOutputAreDroppedWithOneBox) {
  AddPorts(1, 2);
  Init();
  // Two instruments on each output: both outputs are dropped, one box.
  AddTarvonic({.deviceId = 0}, {0, 1});
  AddTarvonic({.deviceId = 1}, {0, 1});
  EXPECT_EQ(Scan(), 2);
  EXPECT_EQ(DeviceList, nullptr);
  const std::vector<sim::BoxRecord> boxes = world.dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Ambiguous Port Assignment");
  EXPECT_EQ(boxes[0].owner, Owner);
  EXPECT_EQ(boxes[0].flags, platform::BoxOk);
  EXPECT_EQ(boxes[0].text,
            "Some MIDI Outputs control more than one Device. These Ports are ignored.\r\n"
            "Please ensure to connect only one Device per MIDI Port during Flashing.\r\n"
            "If you have a MIDI-Interface that supports an Omni-Port, and you find\r\n"
            "the Device to flash, you can safely ignore this message!");
  // Shown after the progress window has closed.
  EXPECT_EQ(world.progress.Events().back().kind, progress::ProgressEvent::Kind::Close);
}

TEST_F(ScanTest, OneInstrumentAnsweringOnTwoInputsIsAmbiguous) {
  AddPorts(2, 1);
  Init();
  AddTarvonic({.replyInputs = {0, 1}}, {0});
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(DeviceList, nullptr);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Ambiguous Port Assignment"}));
}

TEST_F(ScanTest, InstrumentsReachedThroughTwoOutputs) {
  struct Instrument {
    std::uint8_t id;
    std::uint32_t input;
    std::vector<std::uint32_t> outputs;
  };
  struct Case {
    const char* name;
    std::vector<Instrument> instruments;
    std::vector<std::uint32_t> outputsOfRecords;
  };
  const std::vector<Case> cases = {
      // One instrument on both outputs, answering on one input with one
      // channel: the first output's record stays.
      {"same input and channel", {{4, 0, {0, 1}}}, {0}},
      {"different inputs", {{4, 0, {0}}, {4, 1, {1}}}, {0, 1}},
      {"different channels", {{4, 0, {0}}, {5, 0, {1}}}, {0, 1}},
  };
  AddPorts(2, 2);
  Init();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetachAll();
    for (const Instrument& i : c.instruments) AddTarvonic({.deviceId = i.id, .replyInputs = {i.input}}, i.outputs);
    EXPECT_EQ(Scan(), 2);
    std::vector<MidiPort*> outputs;
    for (const DetectedDevice& d : Records()) outputs.push_back(d.outputPort);
    std::vector<MidiPort*> expected;
    for (const std::uint32_t o : c.outputsOfRecords) expected.push_back(Out(o));
    EXPECT_EQ(outputs, expected);
    EXPECT_TRUE(Boxes().empty());
  }
}

TEST_F(ScanTest, AnOutputWithoutAnswerIsShownAndAskedWithTheModelQueries) {
  AddPorts(1, 2);
  Init();
  AddTarvonic({}, {1});
  EXPECT_EQ(Scan(), 1);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(Records()[0].outputPort, Out(1));
  std::vector<std::pair<std::string, std::uint32_t>> texts;  // text, time from the start
  std::vector<std::pair<std::uint32_t, std::uint32_t>> positions;
  for (const progress::ProgressEvent& e : world.progress.Events()) {
    if (e.window <= initWindows_) continue;
    if (e.kind == progress::ProgressEvent::Kind::Open) {
      EXPECT_EQ(e.lines, (std::vector<std::string>{"Scanning MIDI Devices, please wait!"}));
      EXPECT_EQ(e.mode, 3u);
      EXPECT_EQ(e.owner, Owner);
    }
    if (e.kind == progress::ProgressEvent::Kind::Text) texts.emplace_back(e.text, e.at - start);
    if (e.kind == progress::ProgressEvent::Kind::Position)
      positions.emplace_back(e.position, e.total);
  }
  // The silent output takes 200 ms (identity request and model queries).
  EXPECT_EQ(texts, (std::vector<std::pair<std::string, std::uint32_t>>{{"Out 0", 0}, {"Out 1", 200}}));
  EXPECT_EQ(positions, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 2}, {2, 2}}));
  EXPECT_EQ(SentMessages(0).size(), 4u);  // identity request, three model queries
  EXPECT_EQ(world.clock.TickCount() - start, 300u);
}

TEST_F(ScanTest, RepliesOnADisabledInputAreNotRecorded) {
  struct Case {
    std::vector<std::uint32_t> replyInputs;
    std::size_t records;
  };
  AddPorts(2, 1);
  Init();
  Disable(In(1));
  for (const Case& c : {Case{{1}, 0}, Case{{0, 1}, 1}}) {
    DetachAll();
    AddTarvonic({.replyInputs = c.replyInputs}, {0});
    EXPECT_EQ(Scan(), c.records > 0 ? 1 : 0);
    EXPECT_EQ(Records().size(), c.records);
    EXPECT_TRUE(Boxes().empty());
  }
}

TEST_F(ScanTest, WithoutAnEnabledOutputOrInputNothingIsAsked) {
  AddPorts(1, 1);
  Init();
  AddTarvonic({}, {0});
  struct Case {
    bool outputs;
    bool inputs;
    const char* caption;
  };
  for (const Case c : {Case{false, true, "No Output selected"}, Case{true, false, "No Input selected"},
                       Case{false, false, "No Output selected"}}) {
    SCOPED_TRACE(c.caption);
    EnableAll();
    ASSERT_EQ(Scan(), 1);  // a first scan that finds the instrument
    const std::size_t boxesBefore = world.dialogs.Boxes().size();
    const std::size_t sentBefore = world.midi.Sent(0).size();
    if (!c.outputs) Disable(Out(0));
    if (!c.inputs) Disable(In(0));
    const int windows = world.progress.Started();
    EXPECT_EQ(Scan(), 0);
    EXPECT_EQ(DeviceList, nullptr) << "the first scan's records are gone";
    EXPECT_EQ(world.progress.Started(), windows);
    const std::vector<sim::BoxRecord> boxes = world.dialogs.Boxes();
    ASSERT_EQ(boxes.size(), boxesBefore + 1);
    EXPECT_EQ(boxes.back().caption, c.caption);
    EXPECT_EQ(boxes.back().text, SelectPortsText);
    EXPECT_EQ(boxes.back().owner, Owner);
    EXPECT_EQ(world.midi.Sent(0).size(), sentBefore) << "nothing asked";
  }
}

TEST_F(ScanTest, ASecondScanReplacesTheFirstOnesRecords) {
  AddPorts(1, 2);
  Init();
  emulator::VirtualTarvonic& first = AddTarvonic({.deviceId = 1}, {0});
  ASSERT_EQ(Scan(), 1);
  ASSERT_EQ(Records().size(), 1u);
  world.midi.Detach(&first);
  AddTarvonic({.deviceId = 2}, {1});
  EXPECT_EQ(Scan(), 1);
  const std::vector<DetectedDevice> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].channel, 2);
  EXPECT_EQ(records[0].outputPort, Out(1));
}

}  // namespace
