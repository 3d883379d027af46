// Bringing the transport up and down on the simulated driver: the messages
// for a system without ports, which ports are opened, listed and enabled, the
// progress window's timeline, and the order of the shutdown.
#include <sstream>

#include "midi/input_dispatcher.h"
#include "midi/transport_records.h"
#include "tests/midi/transport_fixture.h"

using namespace midi;

namespace {

constexpr char Caption[] = "MIDI Configuration Error";

// The progress window's life as lines "<time> <what>".
std::vector<std::string> Timeline(const progress::RecordingProgressView& view) {
  std::vector<std::string> lines;
  for (const progress::ProgressEvent& e : view.Events()) {
    std::ostringstream line;
    line << e.at << ' ';
    switch (e.kind) {
      case progress::ProgressEvent::Kind::Open:
        line << "open mode " << e.mode << " '" << (e.lines.empty() ? "" : e.lines[0]) << "'";
        break;
      case progress::ProgressEvent::Kind::Text:
        line << "text '" << e.text << "' hold " << e.holdMs;
        break;
      case progress::ProgressEvent::Kind::Position:
        line << "position";
        break;
      case progress::ProgressEvent::Kind::Close:
        line << "close";
        break;
    }
    lines.push_back(line.str());
  }
  return lines;
}

using Lines = std::vector<std::string>;

class PortRegistryTest : public TransportTest {};

TEST(PortRegistry, MissingInputsOrOutputsAreReportedAndNothingIsOpened) {
  struct Case {
    int inputs, outputs;
    const char* text;
  };
  for (const Case& c : {Case{0, 2, "No MIDI Inputs are found!"}, Case{2, 0, "No MIDI Outputs are found!"},
                        Case{0, 0, "No MIDI Inputs are found!"}}) {
    SCOPED_TRACE(c.text);
    emulator::World world;  // a fresh system for each case
    for (int i = 0; i < c.inputs; ++i) world.midi.AddInput({.name = "In"});
    for (int i = 0; i < c.outputs; ++i) world.midi.AddOutput({.name = "Out"});
    world.midi.RecordCalls(true);

    EXPECT_EQ(MidiTransportInit(reinterpret_cast<platform::WindowHandle>(0x1234)), 0);
    const auto boxes = world.dialogs.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, Caption);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].flags, platform::BoxOk);
    EXPECT_TRUE(world.progress.Events().empty()) << "no progress window";
    EXPECT_EQ(DispatcherHandle, nullptr) << "no dispatcher thread";
    EXPECT_EQ(PortList, nullptr);
    EXPECT_NE(DispatcherWake, nullptr) << "the wake event exists even so";

    MidiTransportShutdown();  // nothing to do
    EXPECT_TRUE(world.midi.Calls().empty());
    EXPECT_EQ(world.clock.TickCount(), 0u);
    transport_testing::ResetTransport();
  }
}

TEST_F(PortRegistryTest, ABusyInputIsDroppedAndTheOthersKeepTheirOrder) {
  world.midi.AddInput({.name = "In 0"});
  world.midi.AddInput({.name = "In 1", .openError = platform::MmSysErrAllocated});
  world.midi.AddInput({.name = "In 2"});
  world.midi.AddOutput({.name = "Out 0"});
  Init();
  EXPECT_EQ(DeviceWords(), (std::vector<std::uint32_t>{0, 2, 0x1000}));
  EXPECT_EQ(Timeline(world.progress), (Lines{
                                          "0 open mode 2 'Initializing MIDI'",
                                          "0 text 'In 0' hold 50",
                                          "50 text 'In 1' hold 50",
                                          "100 text '' hold 0",
                                          "100 text 'In 2' hold 50",
                                          "150 text 'Out 0' hold 50",
                                          "300 close",
                                      }));
  EXPECT_TRUE(world.dialogs.Boxes().empty()) << "a busy port is dropped without a message";
  // ... but remembered, for the command line to name it.
  ASSERT_EQ(UnopenedPorts().size(), 1u);
  EXPECT_TRUE(UnopenedPorts()[0].input);
  EXPECT_EQ(UnopenedPorts()[0].index, 1u);
  EXPECT_STREQ(UnopenedPorts()[0].name, "In 1");
  EXPECT_EQ(UnopenedPorts()[0].error, platform::MmSysErrAllocated);
  for (std::uint32_t input : {0u, 2u}) {
    EXPECT_EQ(In(input)->flags.load(), PortInput | PortEnabled);
    EXPECT_EQ(world.midi.QueuedInputBuffers(input), 2u) << "two buffers per input";
  }
  EXPECT_NE(DispatcherHandle, nullptr);
}

TEST_F(PortRegistryTest, TheOwnerOwnsTheProgressWindowNotTheMessages) {
  const auto owner = reinterpret_cast<platform::WindowHandle>(0x4711);
  world.midi.AddInput({.name = "In", .openError = platform::MmSysErrAllocated});
  world.midi.AddOutput({.name = "Out"});
  EXPECT_EQ(MidiTransportInit(owner), 1);
  ASSERT_FALSE(world.progress.Events().empty());
  EXPECT_EQ(world.progress.Events()[0].owner, owner);
  EXPECT_EQ(world.dialogs.EnableCalls(),
            (std::vector<std::pair<platform::WindowHandle, bool>>{{owner, false}, {owner, true}}));
}

TEST_F(PortRegistryTest, DeviceWordsCarryTheIndexAndMarkOutputs) {
  AddPorts(4, 4);
  Init();
  EXPECT_EQ(DeviceWords(), (std::vector<std::uint32_t>{0, 1, 2, 3, 0x1000, 0x1001, 0x1002, 0x1003}));
  EXPECT_EQ(Out(3)->device & PortDeviceIndexMask, 3u);
  EXPECT_EQ(PortMidPid(In(0)), 0u);
}

TEST_F(PortRegistryTest, OutputsAreEnabledByTechnologyMakerAndProduct) {
  struct Case {
    std::uint16_t technology, mid, pid;
    bool enabled;
  };
  const std::vector<Case> cases = {
      {1, 0, 0, true},        {3, 0, 0, true},        {5, 0, 0, true},        {7, 0, 0, true},
      {0, 0, 0, false},       {2, 0, 0, false},       {4, 0, 0, false},       {6, 0, 0, false},
      {1, 219, 0x0101, false}, {1, 208, 0x0100, false}, {7, 219, 0xFFFF, false},
      {1, 208, 0x00FF, true}, {1, 220, 0x0100, true},  {1, 219, 0xFEFF, true}, {2, 100, 0x0100, false},
  };
  world.midi.AddInput({.name = "In", .wMid = 219, .wPid = 0x0100});
  for (const Case& c : cases) {
    world.midi.AddOutput({.name = "Out", .wMid = c.mid, .wPid = c.pid, .wTechnology = c.technology});
  }
  Init();
  EXPECT_EQ(In(0)->flags.load(), PortInput | PortEnabled) << "inputs are always enabled";
  for (std::uint32_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "technology " << cases[i].technology << " mid " << cases[i].mid
                                    << " pid " << cases[i].pid);
    EXPECT_EQ(Out(i)->flags.load(), cases[i].enabled ? PortEnabled : 0u);
  }
}

TEST_F(PortRegistryTest, WhenEveryPortFailsTheResultIsOneAndTheWindowStaysUp300Ms) {
  for (int i = 0; i < 2; ++i) world.midi.AddInput({.name = "In", .openError = platform::MmSysErrAllocated});
  for (int i = 0; i < 2; ++i) world.midi.AddOutput({.name = "Out", .openError = platform::MmSysErrAllocated});
  Init();
  EXPECT_EQ(PortList, nullptr);
  EXPECT_EQ(Timeline(world.progress), (Lines{
                                          "0 open mode 2 'Initializing MIDI'",
                                          "0 text 'In' hold 50",
                                          "50 text '' hold 0",
                                          "50 text 'In' hold 50",
                                          "100 text '' hold 0",
                                          "100 text 'Out' hold 50",
                                          "150 text '' hold 0",
                                          "150 text 'Out' hold 50",
                                          "200 text '' hold 0",
                                          "300 close",
                                      }));
  MidiTransportShutdown();
  EXPECT_EQ(DispatcherHandle, nullptr);
}

TEST_F(PortRegistryTest, PortNamesAreShownWhateverTheDriverFilledIn) {
  world.midi.AddInput({.name = "caps fail", .wMid = 5, .capsError = platform::MmSysErrNoMem});
  world.midi.AddOutput({.name = std::string(32, 'N')});  // no terminator in the driver's record
  Init();
  EXPECT_EQ(Timeline(world.progress)[1], "0 text '' hold 50");
  EXPECT_EQ(Timeline(world.progress)[2], "50 text '" + std::string(32, 'N') + "' hold 50");
  EXPECT_EQ(PortMidPid(In(0)), 0u) << "a failed query leaves zero identifiers";
  char name[40];
  EXPECT_EQ(std::string(PortCopyName(Out(0), name, sizeof name)), std::string(32, 'N'));
}

TEST_F(PortRegistryTest, ShutdownStopsTheDispatcherBeforeClosingPortsInListOrder) {
  AddPorts(2, 2);
  Init();
  MidiBuffer* buffer = BufferGet();
  buffer->header.dwBufferLength = buffer->header.dwBytesRecorded = 6;
  ASSERT_EQ(SendBuffer(Out(1), buffer), 0u);  // still on the wire at shutdown
  ASSERT_EQ(world.midi.OutputsInFlight(1), 1u);
  world.midi.RecordCalls(true);

  MidiTransportShutdown();
  std::vector<std::pair<sim::DriverCall, std::uint32_t>> calls;
  for (const sim::DriverCallRecord& c : world.midi.Calls()) {
    calls.emplace_back(c.call, c.port);
    EXPECT_EQ(c.result, 0u);
  }
  using C = sim::DriverCall;
  // No buffer operation among them: the dispatcher was gone before the first
  // reset handed buffers back.
  EXPECT_EQ(calls, (std::vector<std::pair<sim::DriverCall, std::uint32_t>>{
                       {C::InStop, 0}, {C::InReset, 0}, {C::InClose, 0},
                       {C::InStop, 1}, {C::InReset, 1}, {C::InClose, 1},
                       {C::OutReset, 0}, {C::OutClose, 0}, {C::OutReset, 1}, {C::OutClose, 1}}));
  // Handed back by the resets and never processed: they return to the pool.
  EXPECT_EQ(transport_testing::DispatchQueueLength(), 0u);
  EXPECT_EQ(transport_testing::BufferPoolSize(), MidiBuffersAllocated.load());
  EXPECT_EQ(PortList, nullptr);
  EXPECT_EQ(DispatcherHandle, nullptr);
  for (std::uint32_t i = 0; i < 2; ++i) {
    EXPECT_FALSE(world.midi.InputOpen(i));
    EXPECT_FALSE(world.midi.OutputOpen(i));
  }
  MidiTransportShutdown();  // a second call finds nothing to do
  EXPECT_EQ(world.midi.Calls().size(), calls.size());
}

int NeverCalled(MidiBuffer*, MidiPort*, void*, const std::uint8_t*, int) { return ListenerKeep; }

int CountCalls(MidiBuffer*, MidiPort*, void* calls, const std::uint8_t*, int) {
  ++*static_cast<int*>(calls);
  return ListenerKeep;
}

// A second start in the same process (the command line's tests do this) gets
// a dispatcher that never sees a buffer of the first run's freed ports.
TEST_F(PortRegistryTest, ASecondStartAfterShutdownBeginsClean) {
  AddPorts(1, 1);
  Init();
  MidiBuffer* buffer = BufferGet();
  buffer->header.dwBufferLength = buffer->header.dwBytesRecorded = 6;
  ASSERT_EQ(SendBuffer(Out(0), buffer), 0u);
  MidiTransportShutdown();

  Init();
  int calls = 0;
  const std::uint8_t pattern[] = {PatternEnd};
  SysExListener* listener = AddListener(In(0), CountCalls, &calls, pattern);
  world.midi.SendToInput(0, Bytes{0xF0, 0x01, 0xF7}, 1);
  Wait(50);
  RemoveListener(listener);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(transport_testing::DispatchQueueLength(), 0u);
}

// Listener records are never freed: one left on a port at shutdown is
// recycled, and no longer refers to the freed port.
TEST_F(PortRegistryTest, ListenersLeftOnAPortAreRecycledAtShutdown) {
  AddPorts(2, 1);
  Init();
  const std::uint8_t pattern[] = {PatternEnd};
  SysExListener* onPort = AddListener(In(1), NeverCalled, nullptr, pattern);
  SysExListener* global = AddListener(nullptr, NeverCalled, nullptr, pattern);
  MidiTransportShutdown();
  EXPECT_EQ(ListenerFreeList, onPort);
  EXPECT_EQ(onPort->port, nullptr);
  EXPECT_EQ(onPort->callback, nullptr);
  EXPECT_EQ(GlobalListeners, global) << "global listeners stay where they are";
  RemoveListener(onPort);  // late, and harmless
  EXPECT_EQ(ListenerFreeList, onPort);
  EXPECT_EQ(onPort->next, nullptr);
}

// The clock is asked for 1 ms resolution while the transport is up.
class CountingClock final : public platform::Clock {
 public:
  explicit CountingClock(platform::Clock& inner) : inner_(inner) {}
  void Sleep(std::uint32_t ms) override { inner_.Sleep(ms); }
  std::uint32_t TickCount() override { return inner_.TickCount(); }
  void BeginFineResolution() override { ++begins; }
  void EndFineResolution() override { ++ends; }
  int begins = 0;
  int ends = 0;

 private:
  platform::Clock& inner_;
};

TEST_F(PortRegistryTest, FineTimerResolutionIsHeldFromInitToShutdown) {
  AddPorts(1, 1);
  CountingClock clock(world.clock);
  platform::Install(
      {emulator::World::Module(), &world.midi, &clock, &world.dialogs, &world.progress});
  Init();
  EXPECT_EQ(clock.begins, 1);
  EXPECT_EQ(clock.ends, 0);
  MidiTransportShutdown();
  MidiTransportShutdown();
  EXPECT_EQ(clock.begins, 1);
  EXPECT_EQ(clock.ends, 1);
  platform::Install(
      {emulator::World::Module(), &world.midi, &world.clock, &world.dialogs, &world.progress});
}

TEST_F(PortRegistryTest, NoFineResolutionIsAskedForWhenPortsAreMissing) {
  world.midi.AddInput({.name = "In"});
  CountingClock clock(world.clock);
  platform::Install(
      {emulator::World::Module(), &world.midi, &clock, &world.dialogs, &world.progress});
  EXPECT_EQ(MidiTransportInit(nullptr), 0);
  MidiTransportShutdown();
  EXPECT_EQ(clock.begins, 0);
  EXPECT_EQ(clock.ends, 0);
  platform::Install(
      {emulator::World::Module(), &world.midi, &world.clock, &world.dialogs, &world.progress});
}

TEST_F(PortRegistryTest, WithoutADispatcherThreadNoPortIsOpened) {
  AddPorts(2, 2);
  world.midi.RecordCalls(true);
  RefuseDispatcherStart = true;
  EXPECT_EQ(MidiTransportInit(nullptr), 0);
  EXPECT_EQ(PortList, nullptr);
  EXPECT_TRUE(world.midi.Calls().empty());
  EXPECT_TRUE(world.dialogs.Boxes().empty());
  EXPECT_EQ(Timeline(world.progress), (Lines{"0 open mode 2 'Initializing MIDI'", "300 close"}));
  MidiTransportShutdown();
  EXPECT_TRUE(world.midi.Calls().empty());
}

std::atomic<int> portRecords{0};
bool RefuseSecondPort(TransportRecord kind) {
  return kind == TransportRecord::Port && ++portRecords == 2;
}

TEST_F(PortRegistryTest, APortWithoutMemoryIsSkippedLikeOneThatCannotOpen) {
  AddPorts(3, 1);
  RefuseTransportAllocation = RefuseSecondPort;
  Init();
  EXPECT_EQ(DeviceWords(), (std::vector<std::uint32_t>{0, 2, 0x1000}));
  EXPECT_FALSE(world.midi.InputOpen(1));
}

TEST_F(PortRegistryTest, AnInputWithoutMemoryForBuffersIsStillOpened) {
  AddPorts(1, 1);
  RefuseTransportAllocation = [](TransportRecord kind) { return kind == TransportRecord::Buffer; };
  Init();
  EXPECT_EQ(DeviceWords(), (std::vector<std::uint32_t>{0, 0x1000}));
  EXPECT_EQ(world.midi.QueuedInputBuffers(0), 0u);
}

TEST_F(PortRegistryTest, ABufferTheDriverRefusesGoesBackToThePool) {
  AddPorts(1, 1);
  world.midi.FailInAddBuffer(0, {platform::MmSysErrNoMem, 2, 1});
  Init();
  EXPECT_EQ(world.midi.QueuedInputBuffers(0), 1u);
  EXPECT_EQ(transport_testing::BufferPoolSize(), 1u);
}

}  // namespace
