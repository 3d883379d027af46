// The shared records: the two port accessors, the dispatch queue's order and
// the auto-reset wake event.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "platform/callback_sync.h"
#include "midi/midi_buffer.h"
#include "midi/transport_records.h"
#include "tests/midi/transport_testing.h"

using namespace midi;

namespace {

struct TestPort : MidiPort {
  TestPort(std::uint16_t mid, std::uint16_t pid, const char* name) : MidiPort{} {
    caps.out.wMid = mid;
    caps.out.wPid = pid;
    std::memcpy(caps.out.szPname, name, std::min(std::strlen(name), sizeof caps.out.szPname));
  }
};

TEST(PortMidPid, PutsMakerHighAndProductLowWithoutSignExtension) {
  struct Case {
    std::uint16_t mid, pid;
    std::uint32_t expected;
  };
  for (const Case& c : {Case{0x0131, 0x0001, 0x01310001}, Case{0xFFFF, 0xFFFF, 0xFFFFFFFF},
                        Case{0x8000, 0x0080, 0x80000080}, Case{0, 0, 0}}) {
    const TestPort port(c.mid, c.pid, "");
    EXPECT_EQ(PortMidPid(&port), c.expected);
  }
  EXPECT_EQ(PortMidPid(nullptr), 0u);
}

TEST(PortCopyName, WritesExactlySizeBytesAndTerminates) {
  const std::string name31 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234";  // 31 characters
  const TestPort port(0, 0, name31.c_str());
  char buffer[40];

  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_EQ(PortCopyName(&port, buffer, 20), buffer);
  EXPECT_EQ(std::string(buffer), name31.substr(0, 19));
  EXPECT_EQ(buffer[20], 0x55) << "wrote beyond the given size";

  std::memset(buffer, 0x55, sizeof buffer);
  PortCopyName(&port, buffer, 32);
  EXPECT_EQ(std::string(buffer), name31);

  const TestPort shortName(0, 0, "Out");
  std::memset(buffer, 0x55, sizeof buffer);
  PortCopyName(&shortName, buffer, 30);
  EXPECT_EQ(std::string(buffer), "Out");
  for (int i = 3; i < 30; ++i) EXPECT_EQ(buffer[i], 0) << "byte " << i << " not zeroed";
  EXPECT_EQ(buffer[30], 0x55);

  std::memset(buffer, 0x55, sizeof buffer);
  PortCopyName(&port, buffer, 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 0x55);
}

// The driver's name field need not be terminated; a size 0 leaves no room
// even for the terminator. Neither may read or write out of bounds.
TEST(PortCopyName, BoundsHoldForUnterminatedNamesAndSizeZero) {
  MidiPort port{};
  std::memset(port.caps.out.szPname, 'x', sizeof port.caps.out.szPname);
  port.caps.out.wTechnology = 0x4141;  // the bytes right behind the name: "AA"
  char buffer[40];
  std::memset(buffer, 0x55, sizeof buffer);
  PortCopyName(&port, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), std::string(32, 'x'));

  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_EQ(PortCopyName(&port, buffer, 0), buffer);
  EXPECT_EQ(buffer[0], 0x55);

  PortCopyName(nullptr, buffer, 5);
  EXPECT_EQ(std::string(buffer), "");
}

TEST(DispatchQueue, HeadersLeaveInTheOrderTheyWereAppended) {
  MidiBuffer buffers[4]{};
  // The order in which a driver might complete them.
  for (int i : {2, 0, 3, 1}) QueueCompleted(&buffers[i].header);
  ASSERT_EQ(transport_testing::DispatchQueueLength(), 4u);
  const platform::MidiHeader* expected[] = {&buffers[2].header, &buffers[0].header,
                                            &buffers[3].header, &buffers[1].header};
  platform::MidiHeader* header = DispatchQueue;
  for (const platform::MidiHeader* e : expected) {
    ASSERT_EQ(header, e);
    header = header->lpNext;
  }
  EXPECT_EQ(header, nullptr);
  DispatchQueue = nullptr;  // the buffers are on the stack
}

TEST(WakeEvent, ASignalBeforeTheWaitIsKeptAndOneAfterItWakesTheWaiter) {
  platform::WakeEvent event;
  event.Signal();
  event.Signal();
  event.Wait();  // returns at once: the signals were kept

  std::thread waiter([&] { event.Wait(); });
  event.Signal();
  waiter.join();  // would hang if the signal were lost
}

}  // namespace
