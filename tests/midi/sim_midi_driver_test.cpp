// The simulated driver on its own, with a test callback in the host's place:
// input behaves as winmm's does, output takes wire time, devices see whole
// messages, and the settle hook keeps the clock in step with the host.
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "emulator/world.h"

using namespace emulator;

namespace {

using Bytes = std::vector<std::uint8_t>;
using platform::MidiHeader;

// The host side: records every callback and, like the dispatcher, gives
// buffers back at once (input buffers queued again, output ones unprepared).
struct Host {
  struct Event {
    std::uint32_t message;
    std::uint32_t at;
    Bytes data;  // a returned buffer's recorded bytes
    std::uintptr_t param1;
    std::uint32_t flags;
  };
  emulator::World* world = nullptr;
  std::vector<Event> events;
  bool giveBack = true;

  static void KF_CALLBACK Callback(platform::MidiHandle handle, std::uint32_t message,
                                   std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t) {
    auto* host = reinterpret_cast<Host*>(instance);
    Event event{message, host->world->clock.TickCount(), {}, param1, 0};
    auto* header = reinterpret_cast<MidiHeader*>(param1);
    const bool buffer = message == platform::MimLongData || message == platform::MimLongError ||
                        message == platform::MomDone;
    if (buffer) {
      event.flags = header->dwFlags;
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
      event.data.assign(bytes, bytes + (message == platform::MomDone ? header->dwBufferLength
                                                                      : header->dwBytesRecorded));
    }
    host->events.push_back(event);
    if (!buffer || !host->giveBack) return;
    if (message == platform::MomDone) {
      host->world->midi.OutUnprepareHeader(handle, header);
    } else {
      host->world->midi.InUnprepareHeader(handle, header);
      host->world->midi.InPrepareHeader(handle, header);
      host->world->midi.InAddBuffer(handle, header);
    }
  }
  std::vector<Event> Of(std::uint32_t message) const {
    std::vector<Event> selected;
    for (const Event& e : events) {
      if (e.message == message) selected.push_back(e);
    }
    return selected;
  }
};

struct Buffer {
  MidiHeader header{};
  char data[128]{};
  explicit Buffer(std::uint32_t length = 128) {
    header.lpData = data;
    header.dwBufferLength = length;
  }
};

class SimDriverTest : public ::testing::Test {
 protected:
  SimDriverTest() { host.world = &world; }

  platform::MidiHandle OpenInput(std::uint32_t index, int buffers) {
    platform::MidiHandle handle = nullptr;
    EXPECT_EQ(world.midi.InOpen(&handle, index, Host::Callback, reinterpret_cast<std::uintptr_t>(&host)), 0u);
    for (int i = 0; i < buffers; ++i) AddBuffer(handle);
    world.midi.InStart(handle);
    return handle;
  }
  void AddBuffer(platform::MidiHandle handle) {
    inBuffers.push_back(std::make_unique<Buffer>());
    world.midi.InPrepareHeader(handle, &inBuffers.back()->header);
    EXPECT_EQ(world.midi.InAddBuffer(handle, &inBuffers.back()->header), 0u);
  }
  platform::MidiHandle OpenOutput(std::uint32_t index) {
    platform::MidiHandle handle = nullptr;
    EXPECT_EQ(world.midi.OutOpen(&handle, index, Host::Callback, reinterpret_cast<std::uintptr_t>(&host)), 0u);
    return handle;
  }
  std::uint32_t Send(platform::MidiHandle handle, const Bytes& bytes) {
    outBuffers.push_back(std::make_unique<Buffer>(static_cast<std::uint32_t>(bytes.size())));
    MidiHeader* header = &outBuffers.back()->header;
    std::memcpy(header->lpData, bytes.data(), bytes.size());
    world.midi.OutPrepareHeader(handle, header);
    return world.midi.OutLongMsg(handle, header);
  }

  emulator::World world;
  Host host;
  std::vector<std::unique_ptr<Buffer>> inBuffers;
  std::vector<std::unique_ptr<Buffer>> outBuffers;
};

Bytes SysEx(std::size_t length, std::uint8_t fill = 0x11) {
  Bytes bytes(length, fill);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

// --- input -----------------------------------------------------------------

TEST_F(SimDriverTest, InputBuffersComeBackAtF7OrWhenFull) {
  world.midi.AddInput({.name = "In"});
  world.midi.SetInputByteRate(0);
  OpenInput(0, 2);
  const Bytes message = SysEx(300);
  world.midi.SendToInput(0, message, 10);
  world.midi.SendToInput(0, SysEx(128), 0);
  world.clock.Sleep(100);
  const auto data = host.Of(platform::MimLongData);
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[0].data, Bytes(message.begin(), message.begin() + 128));
  EXPECT_EQ(data[1].data, Bytes(message.begin() + 128, message.begin() + 256));
  EXPECT_EQ(data[2].data, Bytes(message.begin() + 256, message.end()));
  EXPECT_EQ(data[3].data, SysEx(128)) << "a message of exactly 128 bytes fills one buffer";
  for (const auto& e : data) {
    EXPECT_EQ(e.at, 10u);
    EXPECT_EQ(e.flags & (platform::MhdrDone | platform::MhdrInQueue), platform::MhdrDone);
  }
  EXPECT_EQ(world.midi.DroppedBytes(0), 0u);
}

TEST_F(SimDriverTest, ShortMessagesAndRealTimeBytesNeverReachABuffer) {
  world.midi.AddInput({.name = "In"});
  OpenInput(0, 2);
  world.midi.SendToInput(0, Bytes{0x90, 0x40, 0x7F, 0x41, 0x00, 0xC0, 0x05, 0xF0, 0x01, 0xF8, 0x02, 0xF7, 0xF6,
                             0xF2, 0x10, 0x20},
                         0);
  world.clock.Sleep(100);
  std::vector<std::uintptr_t> shorts;
  for (const auto& e : host.Of(platform::MimData)) shorts.push_back(e.param1);
  EXPECT_EQ(shorts, (std::vector<std::uintptr_t>{0x7F4090, 0x004190, 0x05C0, 0xF8, 0xF6, 0x2010F2}))
      << "running status, one-byte programs, real time inside SysEx, system common";
  const auto data = host.Of(platform::MimLongData);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].data, (Bytes{0xF0, 0x01, 0x02, 0xF7})) << "the real-time byte is not part of it";
}

TEST_F(SimDriverTest, ABrokenMessageComesBackAsAnError) {
  world.midi.AddInput({.name = "In"});
  OpenInput(0, 2);
  world.midi.SendToInput(0, Bytes{0xF0, 0x41, 0xF0, 0x42, 0xF7, 0xF0, 0x43, 0x90, 0x40, 0x7F}, 0);
  world.clock.Sleep(100);
  std::vector<std::pair<std::uint32_t, Bytes>> returned;
  for (const auto& e : host.events) {
    if (e.message != platform::MimOpen) returned.emplace_back(e.message, e.data);
  }
  EXPECT_EQ(returned, (std::vector<std::pair<std::uint32_t, Bytes>>{
                          {platform::MimLongError, {0xF0, 0x41}},
                          {platform::MimLongData, {0xF0, 0x42, 0xF7}},
                          {platform::MimLongError, {0xF0, 0x43}},
                          {platform::MimData, {}},
                      }));
}

TEST_F(SimDriverTest, BytesThatFindNoBufferAreDropped) {
  world.midi.AddInput({.name = "In"});
  world.midi.SetSettleTracking(0, false);
  host.giveBack = false;  // a host that never queues the buffer again
  platform::MidiHandle handle = OpenInput(0, 1);
  const Bytes message = SysEx(200);
  world.midi.SendToInput(0, message, 0);
  world.clock.Sleep(1000);
  ASSERT_EQ(host.Of(platform::MimLongData).size(), 1u);
  EXPECT_EQ(world.midi.DroppedBytes(0), 72u);

  // A buffer queued in the middle of a message takes the rest of it.
  world.midi.SendToInput(0, SysEx(10), 0);
  world.clock.Sleep(1);  // at 3125 bytes/s, F0 and two data bytes arrive within 1 ms
  EXPECT_EQ(world.midi.DroppedBytes(0), 75u);
  AddBuffer(handle);
  world.clock.Sleep(100);
  const auto data = host.Of(platform::MimLongData);
  ASSERT_EQ(data.size(), 2u);
  Bytes rest(6, 0x11);
  rest.push_back(0xF7);
  EXPECT_EQ(data[1].data, rest);
}

TEST_F(SimDriverTest, NothingIsRecordedBeforeStartOrAfterStop) {
  world.midi.AddInput({.name = "In"});
  platform::MidiHandle handle = nullptr;
  world.midi.InOpen(&handle, 0, Host::Callback, reinterpret_cast<std::uintptr_t>(&host));
  AddBuffer(handle);
  world.midi.SendToInput(0, SysEx(4), 0);
  world.clock.Sleep(50);
  EXPECT_EQ(world.midi.DroppedBytes(0), 4u);
  EXPECT_TRUE(host.Of(platform::MimLongData).empty());
}

TEST_F(SimDriverTest, StopReturnsThePartialBufferAndResetReturnsAll) {
  world.midi.AddInput({.name = "In"});
  world.midi.SetSettleTracking(0, false);
  world.midi.SetInputByteRate(0);
  host.giveBack = false;
  platform::MidiHandle handle = OpenInput(0, 3);
  world.midi.SendToInput(0, Bytes{0xF0, 0x01, 0x02}, 0);
  world.clock.Sleep(10);
  EXPECT_EQ(world.midi.InClose(handle), platform::MidiErrStillPlaying);
  world.midi.InStop(handle);
  ASSERT_EQ(host.Of(platform::MimLongData).size(), 1u);
  EXPECT_EQ(host.Of(platform::MimLongData)[0].data, (Bytes{0xF0, 0x01, 0x02}));
  EXPECT_EQ(world.midi.QueuedInputBuffers(0), 2u) << "empty buffers stay queued at a stop";

  world.midi.InReset(handle);
  const auto data = host.Of(platform::MimLongData);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_TRUE(data[1].data.empty());
  EXPECT_EQ(data[2].flags & (platform::MhdrDone | platform::MhdrInQueue), platform::MhdrDone);
  EXPECT_EQ(world.midi.InClose(handle), 0u);
  EXPECT_EQ(host.events.back().message, platform::MimClose);
  EXPECT_FALSE(world.midi.InputOpen(0));
}

TEST_F(SimDriverTest, InputArrivesAfterTheDelayAtWireSpeedOneSegmentAfterTheOther) {
  world.midi.AddInput({.name = "In"});
  OpenInput(0, 2);
  world.clock.Sleep(1000);
  world.midi.SendToInput(0, SysEx(5), 100);  // arrives 1101..1102
  world.midi.SendToInput(0, SysEx(10), 0);   // queued behind it on the wire: done at 1102 + 4
  world.clock.Sleep(500);
  const auto data = host.Of(platform::MimLongData);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0].at, 1102u);
  EXPECT_EQ(data[1].at, 1106u);
}

TEST_F(SimDriverTest, OpeningAndCapabilitiesFollowTheConfiguration) {
  world.midi.AddInput({.name = "Busy", .openError = platform::MmSysErrAllocated});
  world.midi.AddOutput({.name = "Synth", .wMid = 0x131, .wPid = 7, .wTechnology = 7});
  world.midi.AddOutput({.name = "Broken", .capsError = platform::MmSysErrNoMem});
  platform::MidiHandle handle = nullptr;
  EXPECT_EQ(world.midi.InOpen(&handle, 0, nullptr, 0), platform::MmSysErrAllocated);
  EXPECT_EQ(world.midi.InOpen(&handle, 1, nullptr, 0), sim::SimErrBadDeviceId);
  EXPECT_EQ(world.midi.OutOpen(&handle, 0, nullptr, 0), 0u);
  EXPECT_EQ(world.midi.OutOpen(&handle, 0, nullptr, 0), platform::MmSysErrAllocated);

  platform::MidiOutCaps caps{};
  EXPECT_EQ(world.midi.OutGetDevCaps(0, &caps), 0u);
  EXPECT_STREQ(caps.szPname, "Synth");
  EXPECT_EQ(caps.wMid, 0x131);
  EXPECT_EQ(caps.wPid, 7);
  EXPECT_EQ(caps.wTechnology, 7);
  platform::MidiOutCaps untouched{};
  untouched.wMid = 99;
  EXPECT_EQ(world.midi.OutGetDevCaps(1, &untouched), platform::MmSysErrNoMem);
  EXPECT_EQ(untouched.wMid, 99);
  EXPECT_EQ(world.midi.OutGetDevCaps(2, &caps), sim::SimErrBadDeviceId);
}

// --- output ----------------------------------------------------------------

TEST_F(SimDriverTest, SendsTakeWireTimeSerialisedPerPort) {
  world.midi.AddOutput({.name = "A"});
  world.midi.AddOutput({.name = "B"});
  platform::MidiHandle a = OpenOutput(0);
  platform::MidiHandle b = OpenOutput(1);
  ASSERT_EQ(Send(a, SysEx(128)), 0u);  // 40.96 ms: done at 41
  ASSERT_EQ(Send(a, SysEx(6)), 0u);    // behind it: 41 + 2
  ASSERT_EQ(Send(b, SysEx(60)), 0u);   // its own wire: 19.2 ms, done at 20
  EXPECT_EQ(world.midi.OutputsInFlight(), 3u);
  world.clock.Sleep(100);
  std::vector<std::pair<std::uint32_t, std::size_t>> done;
  for (const auto& e : host.Of(platform::MomDone)) done.emplace_back(e.at, e.data.size());
  EXPECT_EQ(done, (std::vector<std::pair<std::uint32_t, std::size_t>>{{20, 60}, {41, 128}, {43, 6}}));
  EXPECT_EQ(world.midi.OutputsInFlight(), 0u);
  EXPECT_EQ(world.midi.HeadersGivenBack(), 3u);

  world.midi.SetOutputByteRate(0);
  ASSERT_EQ(Send(b, SysEx(128)), 0u);
  world.clock.Sleep(0);
  EXPECT_EQ(host.events.back().at, 100u) << "at once";
}

class Device final : public sim::MidiEndpoint {
 public:
  void OnSysEx(std::uint32_t output, std::span<const std::uint8_t> message, std::uint32_t at) override {
    received.push_back({output, Bytes(message.begin(), message.end()), at});
  }
  struct Message {
    std::uint32_t output;
    Bytes bytes;
    std::uint32_t at;
    bool operator==(const Message&) const = default;
  };
  std::vector<Message> received;
};

TEST_F(SimDriverTest, DevicesReceiveWholeMessagesAcrossChunks) {
  world.midi.AddOutput({.name = "Out"});
  platform::MidiHandle out = OpenOutput(0);
  Device device;
  world.midi.AttachToOutput(0, &device);
  const Bytes message = SysEx(300, 0x22);
  for (std::size_t offset = 0; offset < message.size(); offset += 128) {
    const auto end = message.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(offset + 128, 300));
    ASSERT_EQ(Send(out, Bytes(message.begin() + static_cast<std::ptrdiff_t>(offset), end)), 0u);
  }
  // Three messages in one buffer, garbage around them, and a broken one.
  ASSERT_EQ(Send(out, {0x05, 0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF8, 0xF7, 0xF0, 0x03, 0xF7, 0xF0, 0x04, 0x90}), 0u);
  world.clock.Sleep(1000);
  EXPECT_EQ(device.received, (std::vector<Device::Message>{
                                 {0, message, 97},  // 41 + 41 + 15
                                 {0, {0xF0, 0x01, 0xF7}, 102},
                                 {0, {0xF0, 0x02, 0xF7}, 102},
                                 {0, {0xF0, 0x03, 0xF7}, 102},
                             }));
  EXPECT_EQ(world.midi.DiscardedOutputBytes(0), 4u) << "the 05, and F0 04 90 of the broken message";
  world.midi.Detach(&device);
  ASSERT_EQ(Send(out, SysEx(4)), 0u);
  world.clock.Sleep(100);
  EXPECT_EQ(device.received.size(), 4u);
}

TEST_F(SimDriverTest, ResetHandsPendingSendsBackOnce) {
  world.midi.AddOutput({.name = "Out"});
  platform::MidiHandle out = OpenOutput(0);
  ASSERT_EQ(Send(out, SysEx(128)), 0u);
  ASSERT_EQ(Send(out, SysEx(128)), 0u);
  EXPECT_EQ(world.midi.OutClose(out), platform::MidiErrStillPlaying);
  world.midi.OutReset(out);
  EXPECT_EQ(host.Of(platform::MomDone).size(), 2u);
  world.clock.Sleep(1000);  // the completions scheduled for them find nothing
  EXPECT_EQ(host.Of(platform::MomDone).size(), 2u);
  EXPECT_EQ(world.midi.OutClose(out), 0u);
  EXPECT_EQ(world.midi.Anomalies(), 0u);
}

TEST_F(SimDriverTest, MisuseOfHeadersIsRefusedAndCounted) {
  world.midi.AddOutput({.name = "Out"});
  world.midi.AddInput({.name = "In"});
  platform::MidiHandle out = OpenOutput(0);
  Buffer unprepared(4);
  EXPECT_EQ(world.midi.OutLongMsg(out, &unprepared.header), platform::MidiErrUnprepared);
  ASSERT_EQ(Send(out, SysEx(4)), 0u);
  EXPECT_EQ(world.midi.OutLongMsg(out, &outBuffers.back()->header), platform::MidiErrStillPlaying);
  EXPECT_EQ(world.midi.OutUnprepareHeader(out, &outBuffers.back()->header), platform::MidiErrStillPlaying);
  platform::MidiHandle in = OpenInput(0, 1);
  EXPECT_EQ(world.midi.InAddBuffer(in, &inBuffers.back()->header), platform::MidiErrStillPlaying);
  EXPECT_EQ(world.midi.Anomalies(), 4u);
  EXPECT_EQ(world.midi.OutLongMsg(in, &unprepared.header), platform::MmSysErrInvalHandle);
  world.clock.Sleep(100);
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(SimDriverDeathTest, ASettleThatNeverEndsFailsLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        emulator::World world;
        world.midi.AddOutput({.name = "Out"});
        world.midi.SetSettleTimeout(50);
        platform::MidiHandle out = nullptr;
        world.midi.OutOpen(&out, 0, nullptr, 0);  // nobody will give the buffer back
        Buffer buffer(4);
        world.midi.OutPrepareHeader(out, &buffer.header);
        world.midi.OutLongMsg(out, &buffer.header);
        world.clock.Sleep(10);
      },
      "did not give back 1 buffer");
}
#endif

}  // namespace
