// The dispatcher under real threads: input arrives on four driver threads
// (one per input) and outputs complete on two more, while the user-interface
// thread sends, adds and removes listeners and flips a port's PortEnabled.
// Nothing may be lost or handled twice, the pool must stay bounded, and no
// listener may be called once its removal has returned.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

#include "midi/input_dispatcher.h"
#include "midi/listeners.h"
#include "midi/port_registry.h"
#include "midi/sysex_output.h"
#include "platform/services.h"
#include "platform/sim/scripted_dialogs.h"
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/virtual_clock.h"
#include "progress/recording_progress_view.h"
#include "tests/midi/transport_testing.h"

using namespace progress;
using namespace midi;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t Inputs = 4;
constexpr std::uint32_t Outputs = 2;
constexpr std::uint32_t OutputThreads = 2;
constexpr std::uint32_t MessagesPerInput = 3000;
constexpr std::uint32_t MaxOutputsInFlight = 8;
constexpr std::uint32_t MinimumRounds = 500;
// Input 0 and 1 stay enabled, input 2 is flipped on and off, input 3 stays off.
constexpr std::uint32_t FlippedInput = 2;
constexpr std::uint32_t DisabledInput = 3;
constexpr std::uint8_t StressId = 0x7D;  // non-commercial SysEx id

// F0 7D <input> <seq, three 7-bit bytes> <filler> F7, 7 to 128 bytes long:
// one input buffer each.
std::vector<std::uint8_t> Numbered(std::uint32_t input, std::uint32_t seq) {
  const std::size_t length = 7 + seq % 122;
  std::vector<std::uint8_t> bytes(length, static_cast<std::uint8_t>(seq & 0x7F));
  bytes[0] = 0xF0;
  bytes[1] = StressId;
  bytes[2] = static_cast<std::uint8_t>(input);
  bytes[3] = static_cast<std::uint8_t>((seq >> 14) & 0x7F);
  bytes[4] = static_cast<std::uint8_t>((seq >> 7) & 0x7F);
  bytes[5] = static_cast<std::uint8_t>(seq & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

const std::uint8_t NumberedPattern[] = {0xF0, StressId, PatternCapture, PatternCapture,
                                        PatternCapture, PatternCapture, PatternEnd};
const std::uint8_t AnyPattern[] = {PatternEnd};

// Written by the permanent listener on the dispatcher thread only.
struct Tally {
  std::array<std::vector<std::uint8_t>, Inputs> seen;
  std::uint64_t bad = 0;  // captures that name no message sent
};

int CountNumbered(MidiBuffer*, MidiPort* port, void* reply, const std::uint8_t* captures, int count) {
  auto* tally = static_cast<Tally*>(reply);
  const std::uint32_t input = captures[0];
  const std::uint32_t seq = (std::uint32_t{captures[1]} << 14) | (std::uint32_t{captures[2]} << 7) | captures[3];
  if (count != 4 || input >= Inputs || seq >= MessagesPerInput || port->device != input) {
    ++tally->bad;
  } else {
    ++tally->seen[input][seq];
  }
  return ListenerKeep;
}

// A listener that comes and goes.
struct Transient {
  std::atomic<bool> removed{false};       // set once RemoveListener has returned
  std::atomic<bool> selfRemoved{false};   // set by the callback that ended it
  std::atomic<int> calls{0};
  std::atomic<int> lateCalls{0};
  int result = ListenerKeep;
};

int CheckTransient(MidiBuffer*, MidiPort*, void* reply, const std::uint8_t*, int) {
  auto* t = static_cast<Transient*>(reply);
  if (t->removed.load(std::memory_order_acquire) || t->selfRemoved.load(std::memory_order_relaxed)) {
    t->lateCalls.fetch_add(1, std::memory_order_relaxed);
  }
  t->calls.fetch_add(1, std::memory_order_relaxed);
  if (t->result == ListenerRemove) t->selfRemoved.store(true, std::memory_order_relaxed);
  return t->result;
}

// A device on the outputs that counts whole messages.
class Counter final : public sim::MidiEndpoint {
 public:
  void OnSysEx(std::uint32_t, std::span<const std::uint8_t>, std::uint32_t) override { ++messages; }
  std::atomic<std::uint64_t> messages{0};
};

MidiPort* PortWithDevice(std::uint32_t device) {
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (port->device == device) return port;
  }
  return nullptr;
}

template <typename Done>
bool WaitFor(Done done, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(DispatcherStress, NothingLostNothingTwiceNoCallAfterRemoval) {
  sim::VirtualClock clock;  // no events: pacing pauses pass at once
  sim::ScriptedDialogs dialogs;
  progress::RecordingProgressView progress;
  sim::SimMidiDriver midi(clock, OutputThreads);
  for (std::uint32_t i = 0; i < Inputs; ++i) midi.AddInput({.name = "In"});
  for (std::uint32_t i = 0; i < Outputs; ++i) midi.AddOutput({.name = "Out"});
  midi.RecordTraffic(false);
  Counter device;
  for (std::uint32_t i = 0; i < Outputs; ++i) midi.AttachToOutput(i, &device);
  platform::Install({nullptr, &midi, &clock, &dialogs, &progress});
  ASSERT_EQ(MidiTransportInit(nullptr), 1);
  MidiPort* inputs[Inputs];
  MidiPort* outputs[Outputs];
  for (std::uint32_t i = 0; i < Inputs; ++i) inputs[i] = PortWithDevice(i);
  for (std::uint32_t i = 0; i < Outputs; ++i) outputs[i] = PortWithDevice(i | PortOutputMark);
  inputs[DisabledInput]->flags &= ~PortEnabled;

  Tally tally;
  for (auto& seen : tally.seen) seen.assign(MessagesPerInput, 0);
  ASSERT_NE(AddListener(nullptr, CountNumbered, &tally, NumberedPattern), nullptr);

  const auto started = Clock::now();
  std::atomic<std::uint32_t> injectorsDone{0};
  std::vector<std::thread> injectors;
  for (std::uint32_t input = 0; input < Inputs; ++input) {
    injectors.emplace_back([&midi, &injectorsDone, input] {
      for (std::uint32_t seq = 0; seq < MessagesPerInput; ++seq) midi.InjectNow(input, Numbered(input, seq));
      injectorsDone.fetch_add(1);
    });
  }

  // The user-interface thread's part.
  std::vector<std::unique_ptr<Transient>> transients;
  std::uint64_t sentMessages = 0;
  std::uint32_t round = 0;
  const std::uint8_t outgoing[16] = {0xF0, 0x7D, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0xF7};
  // At least MinimumRounds of listener traffic, and on until every input is in.
  while (injectorsDone.load() < Inputs || round < MinimumRounds) {
    ++round;
    // Keepers on a port and globally, then one that ends itself, added last
    // so that its handle is removed before any further AddListener.
    std::vector<std::pair<SysExListener*, Transient*>> registered;
    for (int k = 0; k < 3; ++k) {
      transients.push_back(std::make_unique<Transient>());
      MidiPort* port = k == 2 ? nullptr : inputs[(round + static_cast<std::uint32_t>(k)) % Inputs];
      registered.emplace_back(AddListener(port, CheckTransient, transients.back().get(),
                                          k == 0 ? AnyPattern : NumberedPattern),
                              transients.back().get());
    }
    transients.push_back(std::make_unique<Transient>());
    transients.back()->result = ListenerRemove;
    registered.emplace_back(AddListener(nullptr, CheckTransient, transients.back().get(), AnyPattern),
                            transients.back().get());

    for (int n = 0; n < 4; ++n) {
      // Output buffers are out from BufferGet until the dispatcher has put
      // them back: with the driver or in the dispatch queue.
      ASSERT_TRUE(WaitFor(
          [] {
            return transport_testing::BuffersAllocated() - transport_testing::BufferPoolSize() <
                   2 * Inputs + MaxOutputsInFlight;
          },
          std::chrono::seconds(60)));
      MidiBuffer* buffer = BufferGet();
      ASSERT_NE(buffer, nullptr);
      std::memcpy(buffer->data, outgoing, sizeof outgoing);
      buffer->header.dwBufferLength = buffer->header.dwBytesRecorded = sizeof outgoing;
      ASSERT_EQ(SendBuffer(outputs[(round + static_cast<std::uint32_t>(n)) % Outputs], buffer), 0u);
      ++sentMessages;
    }
    if (round % 5 == 0) inputs[FlippedInput]->flags ^= PortEnabled;

    for (auto it = registered.rbegin(); it != registered.rend(); ++it) {
      RemoveListener(it->first);
      it->second->removed.store(true, std::memory_order_release);
    }
  }
  for (std::thread& t : injectors) t.join();

  // Everything the driver handed over comes back, and the dispatcher idles.
  ASSERT_TRUE(WaitFor([&] { return midi.OutputsInFlight() == 0; }, std::chrono::seconds(60)));
  ASSERT_TRUE(WaitFor([&] { return midi.HeadersGivenBack() == midi.HeadersDelivered(); },
                      std::chrono::seconds(60)));
  ASSERT_TRUE(WaitDispatcherIdle(60000));
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

  EXPECT_EQ(midi.Anomalies(), 0u) << "a header was handled twice or while the driver had it";
  EXPECT_EQ(tally.bad, 0u);
  for (std::uint32_t input = 0; input < Inputs; ++input) {
    SCOPED_TRACE(input);
    const auto& seen = tally.seen[input];
    const auto once = static_cast<std::uint32_t>(std::count(seen.begin(), seen.end(), 1));
    const auto never = static_cast<std::uint32_t>(std::count(seen.begin(), seen.end(), 0));
    EXPECT_EQ(once + never, MessagesPerInput) << "a message reached the listener twice";
    if (input == DisabledInput) {
      EXPECT_EQ(never, MessagesPerInput);
    } else if (input != FlippedInput) {
      EXPECT_EQ(once, MessagesPerInput);
    }
    EXPECT_EQ(midi.DroppedBytes(input), 0u);
    EXPECT_EQ(midi.QueuedInputBuffers(input), 2u) << "both input buffers are back with the driver";
  }
  int lateCalls = 0;
  int transientCalls = 0;
  for (const auto& t : transients) {
    lateCalls += t->lateCalls.load();
    transientCalls += t->calls.load();
  }
  EXPECT_EQ(lateCalls, 0) << "a listener was called after its removal";
  EXPECT_EQ(device.messages.load(), sentMessages);
  const std::size_t buffers = transport_testing::BuffersAllocated();
  EXPECT_LE(buffers, 2 * Inputs + MaxOutputsInFlight) << "the pool grew beyond what was out at once";
  EXPECT_EQ(transport_testing::BufferPoolSize(), buffers - 2 * Inputs);

  std::printf("stress: %u input threads + %u output threads, %llu buffers delivered and given back, "
              "%llu output messages, %u listener rounds (%d transient calls), %zu MidiBuffers in all, "
              "%.2f s\n",
              Inputs, OutputThreads, static_cast<unsigned long long>(midi.HeadersDelivered()),
              static_cast<unsigned long long>(sentMessages), round, transientCalls, buffers, seconds);

  MidiTransportShutdown();
  transport_testing::ResetTransport();
  platform::Install({});
}

}  // namespace
