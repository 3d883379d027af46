// Once warmed up, a round trip through the simulated world allocates nothing:
// a paced send, its MOM_DONE, a device's reply and its delivery to a
// listener. The pool is bounded by the most buffers ever out at once.
#include "bench/allocation_counter.h"
#include "tests/midi/transport_fixture.h"

namespace {

// Answers every message with a short reply 5 ms later.
struct Echo final : sim::MidiEndpoint {
  explicit Echo(sim::SimMidiDriver& driver) : midi(driver) {}
  void OnSysEx(std::uint32_t, std::span<const std::uint8_t>, std::uint32_t) override {
    midi.SendToInput(0, reply, 5);
  }
  sim::SimMidiDriver& midi;
  const std::uint8_t reply[6] = {0xF0, 0x00, 0x6D, 0x1C, 0x10, 0xF7};
};

TEST_F(TransportTest, ARoundTripAllocatesNothingOnceWarm) {
  AddPorts(1, 1);
  Init();
  Echo echo(world.midi);
  world.midi.AttachToOutput(0, &echo);
  int replies = 0;
  const std::uint8_t pattern[] = {0xF0, 0x00, 0x6D, 0x1C, PatternCapture, PatternEnd};
  AddListener(In(0), [](MidiBuffer*, MidiPort*, void* count, const std::uint8_t*, int) {
    ++*static_cast<int*>(count);
    return ListenerKeep;
  }, &replies, pattern);
  Bytes packet(126, 0x33);
  packet.front() = 0xF0, packet.back() = 0xF7;
  world.midi.RecordTraffic(false);  // the record of the traffic would allocate
  for (int i = 0; i < 220; ++i) {
    if (i == 20) bench::BeginAllocationCount();  // by then the pool and the queues have their size
    ASSERT_EQ(SendSysEx(Out(0), packet.data(), static_cast<std::int32_t>(packet.size())), 0u);
    Wait(100);  // the reply has come in
  }
  ::operator delete(::operator new(1));  // the counter does count
  EXPECT_EQ(bench::EndAllocationCount().allThreads, 1u);
  EXPECT_EQ(replies, 220);
}

}  // namespace
