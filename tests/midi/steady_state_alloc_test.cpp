// Once warmed up, a round trip through the simulated world allocates nothing:
// a paced send, its MOM_DONE, a device's reply and its delivery to a
// listener. The upload benchmark counts allocations on this path, so any
// that crept in would show up there as the transport's.
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

#include "tests/midi/transport_fixture.h"

#if defined(__GNUC__) && !defined(__clang__)
// The replacements below pair malloc with free themselves.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<std::uint64_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Answers every message with a short status reply after 5 ms.
class Echo final : public sim::MidiEndpoint {
 public:
  explicit Echo(sim::SimMidiDriver& midi) : midi_(midi) {}
  void OnSysEx(std::uint32_t, std::span<const std::uint8_t>, std::uint32_t) override {
    midi_.SendToInput(0, reply_, 5);
  }

 private:
  sim::SimMidiDriver& midi_;
  const std::array<std::uint8_t, 11> reply_{0xF0, 0x00, 0x6D, 0x1C, 0x10, 0x41, 0x40, 0x00, 0x00, 0x01, 0xF7};
};

int CountReply(MidiBuffer*, MidiPort*, void* reply, const std::uint8_t*, int) {
  ++*static_cast<int*>(reply);
  return ListenerKeep;
}

class SteadyStateTest : public TransportTest {};

TEST_F(SteadyStateTest, ARoundTripAllocatesNothingOnceWarm) {
  AddPorts(1, 1);
  Init();
  world.midi.RecordTraffic(false);
  Echo echo(world.midi);
  world.midi.AttachToOutput(0, &echo);
  int replies = 0;
  const std::uint8_t pattern[] = {0xF0, 0x00, 0x6D, 0x1C, PatternCapture, 0x41, 0x40, PatternEnd};
  AddListener(In(0), CountReply, &replies, pattern);
  Bytes packet(126, 0x33);
  packet.front() = 0xF0;
  packet.back() = 0xF7;
  const auto roundTrip = [&] {
    ASSERT_EQ(SendSysEx(Out(0), packet.data(), static_cast<std::int32_t>(packet.size())), 0u);
    Wait(100);  // the reply has come in
  };
  for (int i = 0; i < 20; ++i) roundTrip();  // the pool and the queues reach their size

  counting = true;
  for (int i = 0; i < 200; ++i) roundTrip();
  counting = false;
  EXPECT_EQ(allocations.load(), 0u);
  EXPECT_EQ(replies, 220);

  // The counter does see allocations: recording the traffic makes some.
  world.midi.RecordTraffic(true);
  counting = true;
  roundTrip();
  counting = false;
  EXPECT_GT(allocations.load(), 0u);
}

}  // namespace
