// SysEx output on the simulated driver and the virtual clock: chunking and
// pacing, retries of refused long messages, failures, and the buffer pool.
#include <algorithm>
#include <cstring>
#include <limits>

#include "tests/midi/transport_fixture.h"

namespace {

Bytes Message(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i % 0x70);
  if (length > 0) bytes.front() = 0xF0;
  if (length > 1) bytes.back() = 0xF7;
  return bytes;
}

std::vector<std::uint32_t> PauseLengths(const std::vector<sim::VirtualClock::SleepRecord>& sleeps) {
  std::vector<std::uint32_t> ms;
  for (const auto& s : sleeps) ms.push_back(s.ms);
  return ms;
}

class SysExOutputTest : public TransportTest {
 protected:
  void SetUp() override {
    AddPorts(1, 2);
    Init();
    world.clock.RecordSleeps(true);
  }
  std::uint32_t Send(std::uint32_t output, const Bytes& bytes) {
    return SendSysEx(Out(output), bytes.data(), static_cast<std::int32_t>(bytes.size()));
  }
};

TEST_F(SysExOutputTest, CutsIntoChunksOf128AndPausesAfterEach) {
  struct Case {
    std::int32_t length;
    std::vector<std::uint32_t> chunks;
    std::vector<std::uint32_t> pauses;
  };
  const std::vector<Case> cases = {
      {6, {6}, {20}},
      {41, {41}, {20}},
      {42, {42}, {21}},
      {128, {128}, {23}},
      {129, {128, 1}, {23, 20}},
      {300, {128, 128, 44}, {23, 23, 21}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::size_t before = world.midi.Sent(0).size();
    world.clock.ClearSleeps();
    const std::uint32_t start = world.clock.TickCount();
    const Bytes message = Message(static_cast<std::size_t>(c.length));
    ASSERT_EQ(Send(0, message), 0u);

    const auto sleeps = world.clock.Sleeps();
    EXPECT_EQ(PauseLengths(sleeps), c.pauses);
    const auto sent = world.midi.Sent(0);
    ASSERT_EQ(sent.size() - before, c.chunks.size());
    Bytes joined;
    std::uint32_t at = start;
    for (std::size_t i = 0; i < c.chunks.size(); ++i) {
      const sim::SentChunk& chunk = sent[before + i];
      EXPECT_EQ(chunk.bytes.size(), c.chunks[i]);
      EXPECT_EQ(chunk.sentAt, at) << "chunk " << i << " did not leave right after the pause";
      EXPECT_EQ(chunk.bytes.front() == 0xF0, i == 0);
      at += c.pauses[i];
      joined.insert(joined.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    EXPECT_EQ(joined, message);
    Wait(1000);  // let the wire drain
  }
}

TEST_F(SysExOutputTest, ZeroOrNegativeLengthSendsNothingAndDoesNotPause) {
  const Bytes message = Message(10);
  for (std::int32_t length : {0, -1, -128, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(SendSysEx(Out(0), message.data(), length), 0u);
  }
  EXPECT_EQ(SendSysEx(Out(0), nullptr, 0), 0u);
  EXPECT_TRUE(world.clock.Sleeps().empty());
  EXPECT_EQ(world.midi.LongMsgCalls(0), 0u);
}

TEST_F(SysExOutputTest, ThreeRefusalsCostThreePausesAndNoMessage) {
  world.midi.FailLongMsg(0, {platform::MidiErrNotReady, 1, 3});
  EXPECT_EQ(Send(0, Message(6)), 0u);
  EXPECT_EQ(PauseLengths(world.clock.Sleeps()), (std::vector<std::uint32_t>{200, 200, 200, 20}));
  EXPECT_EQ(world.midi.LongMsgCalls(0), 4u);
  EXPECT_TRUE(world.dialogs.Boxes().empty());
  ASSERT_EQ(world.midi.Sent(0).size(), 1u);
  EXPECT_EQ(world.midi.Sent(0)[0].sentAt, 600u + world.clock.Sleeps()[0].at);
}

TEST_F(SysExOutputTest, TenRefusalsShowTheLastCodeAndReturnIt) {
  struct Case {
    std::uint32_t output;
    std::uint32_t lastCode;
    const char* text;
  };
  world.midi.FailLongMsg(0, {platform::MidiErrNotReady, 1, 9});
  world.midi.FailLongMsg(0, {platform::MmSysErrNoMem, 10, 1});
  world.midi.FailLongMsg(1, {platform::MidiErrNotReady, 1, 9});
  world.midi.FailLongMsg(1, {0x80000001u, 10, 1});
  for (const Case& c : {Case{0, platform::MmSysErrNoMem, "MIDI-Error 7 during midiOutLongMsg"},
                        Case{1, 0x80000001u, "MIDI-Error -2147483647 during midiOutLongMsg"}}) {
    SCOPED_TRACE(c.text);
    world.clock.ClearSleeps();
    const std::size_t boxesBefore = world.dialogs.Boxes().size();

    EXPECT_EQ(Send(c.output, Message(300)), c.lastCode);
    EXPECT_EQ(world.midi.LongMsgCalls(c.output), 10u);
    EXPECT_EQ(PauseLengths(world.clock.Sleeps()), std::vector<std::uint32_t>(9, 200))
        << "nine retry pauses and no pacing pause";
    const auto boxes = world.dialogs.Boxes();
    ASSERT_EQ(boxes.size(), boxesBefore + 1);
    EXPECT_EQ(boxes.back().text, c.text);
    EXPECT_EQ(boxes.back().caption, "Fatal Transfer-Error");
    EXPECT_EQ(boxes.back().owner, nullptr);
    EXPECT_EQ(boxes.back().flags, platform::BoxOk);
    EXPECT_TRUE(world.midi.Sent(c.output).empty());
    // The refused buffer is not lost: every buffer but the inputs' two is
    // back in the pool.
    EXPECT_EQ(transport_testing::BufferPoolSize(), transport_testing::BuffersAllocated() - 2);
  }
}

TEST_F(SysExOutputTest, AFailingMiddleChunkStopsTheMessageThere) {
  world.midi.FailLongMsg(0, {platform::MidiErrNotReady, 2, 10});
  const Bytes message = Message(300);
  EXPECT_EQ(Send(0, message), platform::MidiErrNotReady);
  const auto sent = world.midi.Sent(0);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].bytes, Bytes(message.begin(), message.begin() + 128));
  std::vector<std::uint32_t> expected{23};
  expected.insert(expected.end(), 9, 200);
  EXPECT_EQ(PauseLengths(world.clock.Sleeps()), expected);
  EXPECT_EQ(world.midi.LongMsgCalls(0), 11u);
}

TEST_F(SysExOutputTest, AFailedPrepareReturnsAtOnceWithoutMessageOrPause) {
  world.midi.FailOutPrepare(0, {platform::MmSysErrNoMem, 2, 1});
  EXPECT_EQ(Send(0, Message(300)), platform::MmSysErrNoMem);
  EXPECT_EQ(world.midi.Sent(0).size(), 1u);
  EXPECT_EQ(world.midi.LongMsgCalls(0), 1u);
  EXPECT_EQ(PauseLengths(world.clock.Sleeps()), std::vector<std::uint32_t>{23});
  EXPECT_TRUE(world.dialogs.Boxes().empty());
  // The unprepared buffer went back to the pool at once; after the first
  // chunk has left, both buffers are there.
  Wait(100);
  EXPECT_EQ(transport_testing::BufferPoolSize(), 2u);
}

TEST_F(SysExOutputTest, WithoutMemoryForABufferNothingIsSent) {
  ASSERT_EQ(transport_testing::BufferPoolSize(), 0u);
  RefuseTransportAllocation = [](TransportRecord kind) { return kind == TransportRecord::Buffer; };
  EXPECT_EQ(Send(0, Message(6)), platform::MmSysErrNoMem);
  EXPECT_EQ(world.midi.LongMsgCalls(0), 0u);
  EXPECT_TRUE(world.clock.Sleeps().empty());
  EXPECT_TRUE(world.dialogs.Boxes().empty());
}

TEST_F(SysExOutputTest, SendBufferHandsTheBufferToTheDriverOrBackToThePool) {
  MidiBuffer* buffer = BufferGet();
  std::memcpy(buffer->data, Message(6).data(), 6);
  buffer->header.dwBufferLength = buffer->header.dwBytesRecorded = 6;
  EXPECT_EQ(SendBuffer(Out(1), buffer), 0u);
  EXPECT_EQ(buffer->header.dwUser, reinterpret_cast<std::uintptr_t>(Out(1)));
  EXPECT_EQ(world.midi.OutputsInFlight(1), 1u);
  Wait(10);
  EXPECT_EQ(world.midi.OutputsInFlight(1), 0u);
  EXPECT_EQ(transport_testing::BufferPoolSize(), 1u);

  world.midi.FailOutPrepare(1, {platform::MmSysErrNoMem, 2, 1});
  buffer = BufferGet();
  EXPECT_EQ(transport_testing::BufferPoolSize(), 0u);
  EXPECT_EQ(SendBuffer(Out(1), buffer), platform::MmSysErrNoMem);
  EXPECT_EQ(transport_testing::BufferPoolSize(), 1u);
  EXPECT_EQ(SendBuffer(nullptr, nullptr), SendErrInvalidParameter);
}

TEST_F(SysExOutputTest, ABufferComesBackFromThePoolReset) {
  ASSERT_EQ(Send(0, Message(6)), 0u);
  Wait(100);
  ASSERT_EQ(transport_testing::BufferPoolSize(), 1u);
  MidiBuffer* buffer = BufferGet();
  EXPECT_EQ(buffer->header.dwBufferLength, 128u);
  EXPECT_EQ(buffer->header.dwBytesRecorded, 0u);
  EXPECT_EQ(buffer->header.dwFlags, 0u);
  EXPECT_EQ(buffer->header.dwOffset, 0u);
  EXPECT_EQ(buffer->header.lpData, buffer->data);
  BufferPut(buffer);
}

// The pool grows to the largest number of buffers out at once and then
// stays: a second round of the same traffic allocates nothing.
TEST_F(SysExOutputTest, ThePoolStopsGrowing) {
  const std::size_t atStart = transport_testing::BuffersAllocated();  // the inputs' two
  for (int i = 0; i < 100; ++i) ASSERT_EQ(Send(0, Message(6)), 0u);
  EXPECT_EQ(transport_testing::BuffersAllocated() - atStart, 1u) << "a 6-byte chunk is done before the next";

  // 126-byte messages take 41 ms on the wire but leave every 23 ms: a
  // backlog builds up, and with it the pool.
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Send(0, Message(126)), 0u);
  Wait(5000);
  const std::size_t afterFirstRound = transport_testing::BuffersAllocated();
  EXPECT_GT(afterFirstRound - atStart, 10u);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(Send(0, Message(126)), 0u);
  Wait(5000);
  EXPECT_EQ(transport_testing::BuffersAllocated(), afterFirstRound);
  EXPECT_EQ(transport_testing::BufferPoolSize(), afterFirstRound - 2);
}

TEST_F(SysExOutputTest, FinishedBuffersAreReleasedInTheOrderTheDriverFinishedThem) {
  world.midi.RecordCalls(true);
  ASSERT_EQ(Send(0, Message(128)), 0u);  // on the wire until 41 ms from now
  ASSERT_EQ(Send(1, Message(6)), 0u);    // sent at 23, done at 25
  ASSERT_EQ(Send(1, Message(60)), 0u);   // sent at 43, done at 63
  Wait(200);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> released;  // (output, time)
  for (const sim::DriverCallRecord& call : world.midi.Calls()) {
    if (call.call == sim::DriverCall::OutUnprepare) released.emplace_back(call.port, call.at);
  }
  const std::uint32_t t0 = world.midi.Sent(0)[0].sentAt;
  EXPECT_EQ(released, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                          {1, t0 + 25}, {0, t0 + 41}, {1, t0 + 63}}));
}

TEST(OutputCallback, QueuesOnlyFinishedLongMessages) {
  MidiBuffer buffer{};
  for (std::uint32_t message : {platform::MomOpen, platform::MomClose, platform::MimLongData}) {
    OutputCallback(nullptr, message, 0, reinterpret_cast<std::uintptr_t>(&buffer.header), 0);
  }
  EXPECT_EQ(transport_testing::DispatchQueueLength(), 0u);
  OutputCallback(nullptr, platform::MomDone, 0, reinterpret_cast<std::uintptr_t>(&buffer.header), 0);
  EXPECT_EQ(transport_testing::DispatchQueueLength(), 1u);
  DispatchQueue = nullptr;
}

}  // namespace
