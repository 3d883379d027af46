// The simulated driver's input rules, with a test callback in the host's
// place: buffers come back at F7 or when full, broken SysEx as MIM_LONGERROR,
// short messages and real-time bytes as MIM_DATA, and bytes that find no
// buffer are dropped and counted. The transport's tests exercise the rest.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/sim/sim_midi_driver.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The host: writes down every callback as text and, if it gives buffers
// back, queues each returned one again at once, as the dispatcher would.
struct Host {
  sim::SimMidiDriver& midi;
  bool giveBack;
  std::vector<std::string> log;
  static void KF_CALLBACK Callback(platform::MidiHandle handle, std::uint32_t message,
                                   std::uintptr_t host, std::uintptr_t param1, std::uintptr_t) {
    auto& self = *reinterpret_cast<Host*>(host);
    auto* header = reinterpret_cast<platform::MidiHeader*>(param1);
    char text[16];
    std::snprintf(text, sizeof text, "short %X", static_cast<unsigned>(param1));
    if (message == platform::MimData) self.log.push_back(text);
    if (message != platform::MimLongData && message != platform::MimLongError) return;
    const char* kind = message == platform::MimLongData ? "data " : "error ";
    self.log.push_back(kind + std::to_string(header->dwBytesRecorded));
    header->dwBytesRecorded = 0;
    if (self.giveBack) self.midi.InAddBuffer(handle, header);
  }
};

TEST(SimDriver, InputIsHandedBackAsWinmmDoes) {
  Bytes messages(300, 0x11), full(128, 0x22);  // one of 300 bytes, one of 128
  messages[0] = full[0] = 0xF0, messages[299] = full[127] = 0xF7;
  messages.insert(messages.end(), full.begin(), full.end());
  struct Row {
    Bytes bytes;
    std::vector<std::string> log;
    bool giveBack = true;
    std::uint64_t dropped = 0;
  };
  const Row rows[] = {
      {messages, {"data 128", "data 128", "data 44", "data 128"}},
      {{0x90, 0x40, 0x7F, 0x41, 0x00, 0xC0, 0x05, 0xF0, 0x01, 0xF8, 0x02, 0xF7, 0xF6,
        0xF2, 0x10, 0x20, 0xF0, 0x41, 0xF0, 0x42, 0xF7, 0xF0, 0x43, 0x90, 0x40, 0x7F},
       {"short 7F4090", "short 4190", "short 5C0", "short F8", "data 4", "short F6", "short 2010F2",
        "error 2", "data 3", "error 2", "short 7F4090"}},
      {messages, {"data 128", "data 128"}, false, 44 + 128},
  };
  for (const Row& row : rows) {
    sim::VirtualClock clock;
    sim::SimMidiDriver midi(clock);
    midi.AddInput({.name = "In"});
    midi.SetSettleTracking(0, row.giveBack);
    Host host{midi, row.giveBack, {}};
    platform::MidiHandle handle = nullptr;
    ASSERT_EQ(midi.InOpen(&handle, 0, Host::Callback, reinterpret_cast<std::uintptr_t>(&host)), 0u);
    char data[2][128];
    platform::MidiHeader headers[2]{};
    for (int i = 0; i < 2; ++i) {
      headers[i].lpData = data[i];
      headers[i].dwBufferLength = 128;
      midi.InPrepareHeader(handle, &headers[i]);
      ASSERT_EQ(midi.InAddBuffer(handle, &headers[i]), 0u);
    }
    midi.InStart(handle);
    midi.SendToInput(0, row.bytes, 0);
    clock.Sleep(1000);
    EXPECT_EQ(host.log, row.log);
    EXPECT_EQ(midi.DroppedBytes(0), row.dropped);
    host.giveBack = false;
    midi.InReset(handle);
  }
}

}  // namespace
