// The page's MIDI driver: what the page's inputs hear comes back in
// winmm's buffers (a message in several pieces goes on in the next buffer,
// its F7 alone included), the chunks of an output message leave joined
// (Web MIDI sends whole messages only), a port the page could not open or
// that went away answers as winmm does for one held elsewhere or unplugged,
// and names are cut where a character begins.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/web/web_midi_driver.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The host: writes down every callback and gives input buffers back at once.
struct Host {
  web::WebMidiDriver* midi = nullptr;
  std::vector<std::string> log;
  static void KF_CALLBACK Callback(platform::MidiHandle handle, std::uint32_t message, std::uintptr_t host,
                                   std::uintptr_t param1, std::uintptr_t) {
    auto& self = *reinterpret_cast<Host*>(host);
    auto* header = reinterpret_cast<platform::MidiHeader*>(param1);
    char text[24];
    if (message == platform::MimData) std::snprintf(text, sizeof text, "short %X", static_cast<unsigned>(param1));
    if (message == platform::MimLongData) std::snprintf(text, sizeof text, "data %u", header->dwBytesRecorded);
    if (message == platform::MomDone) std::snprintf(text, sizeof text, "done %u", header->dwBufferLength);
    self.log.push_back(text);
    if (message == platform::MimLongData &&
        (header->dwFlags & (platform::MhdrDone | platform::MhdrInQueue)) != platform::MhdrDone) {
      self.log.push_back("handed back still queued");
    }
    if (message == platform::MimLongData) self.midi->InAddBuffer(handle, header);
  }
};

TEST(WebDriver, InputInBuffersOutputWholePortsAsWinmm) {
  Bytes long_(200, 0x11), chunk(128, 0x22);
  long_.front() = chunk.front() = 0xF0, long_.back() = 0xF7;
  struct Row {
    std::vector<Bytes> heard;  // one midimessage event each
    std::vector<std::string> log;
  };
  const Row rows[] = {
      {{long_}, {"data 128", "data 72"}},
      {{{0xF0, 0x01}, {0xF8}, {0x02, 0x03}, {0xF7}, {0x90, 0x40, 0x7F}, {0xF7}},
       {"data 2", "short F8", "data 2", "data 1", "short 7F4090", "short F7"}},
  };
  std::vector<std::pair<std::uint32_t, Bytes>> sent;
  web::WebMidiDriver midi({{"In"}, {.name = "Busy", .opened = false}},
                          {{"Out"}, {std::string(30, 'x') + "\xC3\xA4y"}},
                          [&sent](std::uint32_t output, std::span<const std::uint8_t> message) {
                            sent.emplace_back(output, Bytes(message.begin(), message.end()));
                          });
  Host host{&midi, {}};
  const auto instance = reinterpret_cast<std::uintptr_t>(&host);
  platform::MidiHandle in = nullptr, busy = nullptr, out = nullptr;
  ASSERT_EQ(midi.InOpen(&in, 0, Host::Callback, instance), 0u);
  EXPECT_EQ(midi.InOpen(&busy, 1, Host::Callback, instance), platform::MmSysErrAllocated);
  char data[2][128];
  platform::MidiHeader headers[2]{};
  for (int i = 0; i < 2; ++i) {
    headers[i].lpData = data[i];
    headers[i].dwBufferLength = 128;
    midi.InPrepareHeader(in, &headers[i]);
    ASSERT_EQ(midi.InAddBuffer(in, &headers[i]), 0u);
  }
  EXPECT_EQ(midi.InAddBuffer(in, &headers[0]), platform::MidiErrStillPlaying) << "queued already";
  midi.Receive(0, long_);  // before the start: not heard
  EXPECT_TRUE(host.log.empty());
  midi.InStart(in);
  for (const Row& row : rows) {
    host.log.clear();
    for (const Bytes& piece : row.heard) midi.Receive(0, piece);
    EXPECT_EQ(host.log, row.log);
  }

  ASSERT_EQ(midi.OutOpen(&out, 0, Host::Callback, instance), 0u);
  Bytes rest{0x33, 0xF7};
  platform::MidiHeader first{}, second{};
  first.lpData = reinterpret_cast<char*>(chunk.data());
  first.dwBufferLength = 128;
  second.lpData = reinterpret_cast<char*>(rest.data());
  second.dwBufferLength = 2;
  host.log.clear();
  for (platform::MidiHeader* header : {&first, &second}) {
    midi.OutPrepareHeader(out, header);
    EXPECT_EQ(midi.OutLongMsg(out, header), 0u);
    EXPECT_EQ(sent.size(), header == &first ? 0u : 1u) << "a message leaves whole, with its F7";
  }
  EXPECT_EQ(host.log, (std::vector<std::string>{"done 128", "done 2"}));
  Bytes whole = chunk;
  whole.insert(whole.end(), rest.begin(), rest.end());
  EXPECT_EQ(sent.at(0), std::make_pair(0u, whole));

  // Unplugged: every call answers MMSYSERR_NODRIVER, queued input comes back
  // empty; plugged in again, the ports open anew.
  midi.SetConnected(false, 0, false);
  EXPECT_EQ(midi.OutLongMsg(out, &second), platform::MmSysErrNoDriver);
  host.log.clear();
  midi.SetConnected(true, 0, false);
  EXPECT_EQ(host.log, (std::vector<std::string>{"data 0", "data 0"}));
  EXPECT_EQ(midi.InStop(in) | midi.InReset(in) | midi.InClose(in) | midi.OutClose(out), 0u);
  EXPECT_EQ(midi.InOpen(&in, 0, Host::Callback, instance), platform::MmSysErrNoDriver);
  midi.SetConnected(true, 0, true);
  midi.SetConnected(false, 0, true);
  ASSERT_EQ(midi.InOpen(&in, 0, Host::Callback, instance), 0u);
  ASSERT_EQ(midi.OutOpen(&out, 0, Host::Callback, instance), 0u);
  midi.OutPrepareHeader(out, &second);
  EXPECT_EQ(midi.OutLongMsg(out, &second), 0u);

  platform::MidiOutCaps caps{};
  midi.OutGetDevCaps(1, &caps);
  EXPECT_EQ(std::string(caps.szPname), std::string(30, 'x')) << "cut before the character that byte 31 falls in";
}

}  // namespace
