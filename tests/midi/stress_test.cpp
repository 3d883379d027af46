// The transport under real threads, for ThreadSanitizer: input arrives on four
// driver threads (one per input) and outputs complete on two more, while this
// thread sends and adds and removes listeners. Nothing may be lost or heard
// twice, and no listener is called once its removal has returned.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/midi/transport_fixture.h"

namespace {

constexpr std::uint32_t Inputs = 4, Outputs = 2, Messages = 3000, Rounds = 500;

// F0 7D <input> <seq in two 7-bit bytes> <filler> F7, 6 to 128 bytes long.
Bytes Message(std::uint32_t input, std::uint32_t seq) {
  const auto byte = [](std::uint32_t value) { return static_cast<std::uint8_t>(value & 0x7F); };
  Bytes bytes = {0xF0, 0x7D, byte(input), byte(seq >> 7), byte(seq)};
  bytes.resize(5 + seq % 123, 0x55);
  bytes.push_back(0xF7);
  return bytes;
}
const std::uint8_t Numbered[] = {0xF0,           0x7D,           PatternCapture,
                                 PatternCapture, PatternCapture, PatternEnd};
const std::uint8_t Any[] = {PatternEnd};

// How often each message was heard, and how often a listener was told of
// one that was never sent; written on the dispatcher thread only.
struct Tally {
  std::vector<int> heard = std::vector<int>(Inputs * Messages);
  int wrong = 0;
};
int Count(MidiBuffer*, MidiPort* port, void* tally, const std::uint8_t* c, int count) {
  auto& t = *static_cast<Tally*>(tally);
  const std::uint32_t seq = c[1] << 7 | c[2];
  const bool sent = count == 3 && c[0] == port->device && c[0] < Inputs && seq < Messages;
  ++(sent ? t.heard[c[0] * Messages + seq] : t.wrong);
  return ListenerKeep;
}

// A listener that comes and goes; `removed` once RemoveListener has returned
// or its callback has ended it.
struct Transient {
  std::atomic<bool> removed{false};
  std::atomic<int> lateCalls{0};
  int result = ListenerKeep;
};
int Check(MidiBuffer*, MidiPort*, void* reply, const std::uint8_t*, int) {
  auto* t = static_cast<Transient*>(reply);
  if (t->removed) ++t->lateCalls;
  if (t->result == ListenerRemove) t->removed = true;
  return t->result;
}

template <typename Done>
bool Eventually(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return done();
}
std::size_t BuffersOut() {
  return transport_testing::BuffersAllocated() - transport_testing::BufferPoolSize();
}

TEST(Stress, NothingLostNothingTwiceNoCallAfterRemoval) {
  sim::VirtualClock clock;  // no events: pacing pauses pass at once
  sim::ScriptedDialogs dialogs;
  progress::RecordingProgressView progress;
  sim::SimMidiDriver midi(clock, Outputs);
  for (std::uint32_t i = 0; i < Inputs; ++i) midi.AddInput({.name = "In"});
  for (std::uint32_t i = 0; i < Outputs; ++i) midi.AddOutput({.name = "Out"});
  midi.RecordTraffic(false);
  platform::Install({nullptr, &midi, &clock, &dialogs, &progress});
  ASSERT_EQ(MidiTransportInit(nullptr), 1);
  std::vector<MidiPort*> ports;  // the inputs, then the outputs
  for (MidiPort* port = PortList; port != nullptr; port = port->next) ports.push_back(port);
  Tally tally;
  ASSERT_NE(AddListener(nullptr, Count, &tally, Numbered), nullptr);

  std::atomic<std::uint32_t> injectorsDone{0};
  std::vector<std::thread> injectors;
  for (std::uint32_t input = 0; input < Inputs; ++input) {
    injectors.emplace_back([&, input] {
      for (std::uint32_t seq = 0; seq < Messages; ++seq) midi.InjectNow(input, Message(input, seq));
      ++injectorsDone;
    });
  }
  std::vector<std::unique_ptr<Transient>> transients;
  const std::uint8_t outgoing[] = {0xF0, 0x7D, 0, 0, 9, 0xF7};
  std::uint32_t round = 0;
  for (; injectorsDone < Inputs || round < Rounds; ++round) {
    // Keepers on a port and globally, then one that ends itself: removed in
    // the opposite order, so no handle is removed after its record is reused.
    std::vector<std::pair<SysExListener*, Transient*>> added;
    for (std::uint32_t k = 0; k < 3; ++k) {
      Transient& t = *transients.emplace_back(std::make_unique<Transient>());
      t.result = k == 2 ? ListenerRemove : ListenerKeep;
      MidiPort* port = k == 0 ? ports[round % Inputs] : nullptr;
      added.emplace_back(AddListener(port, Check, &t, k == 1 ? Numbered : Any), &t);
    }
    ASSERT_TRUE(Eventually([] { return BuffersOut() < InputBuffersPerPort * Inputs + 16; }));  // a bounded backlog
    ASSERT_EQ(SendSysEx(ports[Inputs + round % Outputs], outgoing, sizeof outgoing), 0u);
    for (auto it = added.rbegin(); it != added.rend(); ++it) {
      RemoveListener(it->first);
      it->second->removed = true;
    }
  }
  for (std::thread& t : injectors) t.join();
  ASSERT_TRUE(Eventually([&] { return midi.OutputsInFlight() == 0; }));
  ASSERT_TRUE(Eventually([&] { return midi.HeadersGivenBack() == midi.HeadersDelivered(); }));
  ASSERT_TRUE(WaitDispatcherIdle(60000));

  EXPECT_EQ(midi.Anomalies(), 0u) << "a header was handled twice or while the driver had it";
  EXPECT_EQ(tally.wrong, 0);
  EXPECT_EQ(std::count(tally.heard.begin(), tally.heard.end(), 1), Inputs * Messages);
  for (std::uint32_t input = 0; input < Inputs; ++input) {
    EXPECT_EQ(midi.DroppedBytes(input), 0u);
    EXPECT_EQ(midi.QueuedInputBuffers(input), InputBuffersPerPort) << "every input buffer is back with the driver";
  }
  int lateCalls = 0;
  for (const auto& t : transients) lateCalls += t->lateCalls;
  EXPECT_EQ(lateCalls, 0) << "a listener was called after its removal";
  EXPECT_EQ(BuffersOut(), InputBuffersPerPort * Inputs);
  MidiTransportShutdown();
  transport_testing::ResetTransport();
  platform::Install({});
}

}  // namespace
