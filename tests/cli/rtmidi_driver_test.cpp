// The RtMidi driver against a peer on a private JACK server: the test's own
// RtMidi ports stand for the instrument, so every byte both ways is known.
// And kelmora-flash without the MIDI system it was asked to use.
#include <RtMidi.h>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>

#include "platform/rtmidi/rtmidi_driver.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// What the driver's callback was handed, in order.
struct Callbacks {
  struct Call {
    std::uint32_t message;
    Bytes bytes;  // long data: the recorded bytes; short data: the packed bytes
    platform::MidiHeader* header;
  };
  std::mutex mutex;
  std::vector<Call> calls;
  static void KF_CALLBACK Record(platform::MidiHandle, std::uint32_t message, std::uintptr_t instance,
                                 std::uintptr_t param1, std::uintptr_t) {
    auto& self = *reinterpret_cast<Callbacks*>(instance);
    Call call{message, {}, nullptr};
    if (message == platform::MimLongData || message == platform::MomDone) {
      call.header = reinterpret_cast<platform::MidiHeader*>(param1);
      const auto* data = reinterpret_cast<const std::uint8_t*>(call.header->lpData);
      if (message == platform::MimLongData) call.bytes.assign(data, data + call.header->dwBytesRecorded);
    } else if (message == platform::MimData) {
      for (int i = 0; i < 3; ++i) call.bytes.push_back(static_cast<std::uint8_t>(param1 >> (8 * i)));
    }
    std::lock_guard lock(self.mutex);
    self.calls.push_back(call);
  }
  std::vector<Call> WaitFor(std::size_t count) {
    const auto until = cli_test::SteadyClock::now() + std::chrono::seconds(5);
    for (;;) {
      {
        std::lock_guard lock(mutex);
        if (calls.size() >= count || cli_test::SteadyClock::now() > until) return calls;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
};

struct Buffer {
  platform::MidiHeader header{};
  char data[128] = {};
  Buffer() {
    header.lpData = data;
    header.dwBufferLength = sizeof data;
  }
};

class RtMidiDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = cli_test::TempPath("rtmidi-" + std::to_string(getpid()) + "-");
    jack_ = cli_test::StartJackSession(KF_FLASH_EXE, dir);
    if (!jack_.failure.empty()) GTEST_SKIP() << "no JACK here: " << jack_.failure;
    peerOut_ = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "peer-out");
    peerOut_->openVirtualPort("out");
    peerIn_ = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "peer-in");
    peerIn_->ignoreTypes(false, true, true);
    peerIn_->setCallback(
        [](double, std::vector<unsigned char>* message, void* data) {
          auto& self = *static_cast<RtMidiDriverTest*>(data);
          std::lock_guard lock(self.heardMutex_);
          self.heard_.emplace_back(message->begin(), message->end());
        },
        this);
    peerIn_->openVirtualPort("in");
    std::string error;
    driver_ = rtmidi::RtMidiDriver::Create(rtmidi::Api::Jack, "driver-test", error);
    ASSERT_NE(driver_, nullptr) << error;
  }
  void TearDown() override {
    driver_.reset();
    peerIn_.reset();
    peerOut_.reset();
  }

  std::uint32_t InIndex(const std::string& name) {
    for (std::uint32_t i = 0; i < driver_->InGetNumDevs(); ++i) {
      platform::MidiInCaps caps{};
      driver_->InGetDevCaps(i, &caps);
      if (name == caps.szPname) return i;
    }
    return 0xFFFF;
  }
  std::uint32_t OutIndex(const std::string& name) {
    for (std::uint32_t i = 0; i < driver_->OutGetNumDevs(); ++i) {
      platform::MidiOutCaps caps{};
      driver_->OutGetDevCaps(i, &caps);
      if (name == caps.szPname) return i;
    }
    return 0xFFFF;
  }

  std::vector<Bytes> Heard(std::size_t count) {
    const auto until = cli_test::SteadyClock::now() + std::chrono::seconds(5);
    for (;;) {
      {
        std::lock_guard lock(heardMutex_);
        if (heard_.size() >= count || cli_test::SteadyClock::now() > until) return heard_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // A non-realtime JACK server on a loaded machine loses a whole cycle's
  // events at an xrun, so a message that got nowhere at all is sent again
  // (three times at most); one that arrived in part is not.
  std::vector<Callbacks::Call> PeerSends(std::vector<unsigned char> message, Callbacks& callbacks,
                                         std::size_t expected) {
    const std::size_t before = callbacks.WaitFor(0).size();
    std::vector<Callbacks::Call> calls;
    for (int attempt = 0; attempt < 3; ++attempt) {
      peerOut_->sendMessage(&message);
      calls = callbacks.WaitFor(expected);
      if (calls.size() > before) break;
    }
    return calls;
  }

  cli_test::JackSession jack_;
  std::mutex heardMutex_;
  std::vector<Bytes> heard_;  // what the peer's input heard
  std::unique_ptr<RtMidiOut> peerOut_;
  std::unique_ptr<RtMidiIn> peerIn_;
  std::unique_ptr<rtmidi::RtMidiDriver> driver_;
};

}  // namespace

TEST_F(RtMidiDriverTest, PortsAreListedWithTheirNamesAndOutputsEnabledByTechnology) {
  const std::uint32_t in = InIndex("peer-out:out");
  const std::uint32_t out = OutIndex("peer-in:in");
  ASSERT_LT(in, driver_->InGetNumDevs());
  ASSERT_LT(out, driver_->OutGetNumDevs());
  platform::MidiOutCaps caps{};
  EXPECT_EQ(driver_->OutGetDevCaps(out, &caps), 0u);
  EXPECT_EQ(caps.wTechnology, 1);  // MOD_MIDIPORT: enabled by the registry
  EXPECT_EQ(caps.wMid, 0);
  EXPECT_EQ(driver_->OutGetDevCaps(driver_->OutGetNumDevs(), &caps), rtmidi::MmSysErrBadDeviceId);
  platform::MidiHandle handle = nullptr;
  Callbacks callbacks;
  EXPECT_EQ(driver_->InOpen(&handle, driver_->InGetNumDevs(), Callbacks::Record,
                            reinterpret_cast<std::uintptr_t>(&callbacks)),
            rtmidi::MmSysErrBadDeviceId);
  EXPECT_EQ(driver_->InStart(&callbacks), platform::MmSysErrInvalHandle);  // not a handle of ours
}

TEST_F(RtMidiDriverTest, InputFillsQueuedBuffersOf128BytesAndDropsWhatFindsNone) {
  const std::uint32_t in = InIndex("peer-out:out");
  ASSERT_LT(in, driver_->InGetNumDevs());
  Callbacks callbacks;
  platform::MidiHandle handle = nullptr;
  ASSERT_EQ(driver_->InOpen(&handle, in, Callbacks::Record, reinterpret_cast<std::uintptr_t>(&callbacks)), 0u);
  Buffer buffers[2];
  EXPECT_EQ(driver_->InAddBuffer(handle, &buffers[0].header), platform::MidiErrUnprepared);
  for (Buffer& b : buffers) {
    ASSERT_EQ(driver_->InPrepareHeader(handle, &b.header), 0u);
    ASSERT_EQ(driver_->InAddBuffer(handle, &b.header), 0u);
  }
  // Before the start nothing arrives.
  std::vector<unsigned char> early = {0xF0, 0x01, 0xF7};
  peerOut_->sendMessage(&early);
  // Long enough for several JACK cycles even on a loaded machine.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_TRUE(callbacks.WaitFor(0).empty());
  ASSERT_EQ(driver_->InStart(handle), 0u);

  // 300 bytes: two buffers of 128, the remaining 44 bytes find none.
  std::vector<unsigned char> longMessage(300);
  longMessage.front() = 0xF0;
  for (std::size_t i = 1; i + 1 < longMessage.size(); ++i) longMessage[i] = static_cast<unsigned char>(i & 0x7F);
  longMessage.back() = 0xF7;
  auto calls = PeerSends(longMessage, callbacks, 2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].message, platform::MimLongData);
  EXPECT_EQ(calls[0].header, &buffers[0].header);
  EXPECT_EQ(calls[0].bytes, Bytes(longMessage.begin(), longMessage.begin() + 128));
  EXPECT_EQ(calls[1].bytes, Bytes(longMessage.begin() + 128, longMessage.begin() + 256));
  EXPECT_TRUE(buffers[0].header.dwFlags & platform::MhdrDone);
  EXPECT_FALSE(buffers[0].header.dwFlags & platform::MhdrInQueue);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(driver_->DroppedBytes(), 44u);

  // A buffer given back takes the next message; a short message goes to the
  // callback packed.
  ASSERT_EQ(driver_->InAddBuffer(handle, &buffers[0].header), 0u);
  const std::vector<unsigned char> reply = {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x40, 0x00, 0x00, 0x01, 0xF7};
  PeerSends(reply, callbacks, 3);
  calls = PeerSends({0x90, 0x40, 0x7F}, callbacks, 4);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2].bytes, Bytes(reply.begin(), reply.end()));
  EXPECT_EQ(calls[3].message, platform::MimData);
  EXPECT_EQ(calls[3].bytes, (Bytes{0x90, 0x40, 0x7F}));

  // A queued buffer holds the close off; the reset hands it back empty.
  ASSERT_EQ(driver_->InAddBuffer(handle, &buffers[0].header), 0u);
  EXPECT_EQ(driver_->InAddBuffer(handle, &buffers[0].header), platform::MidiErrStillPlaying);
  EXPECT_EQ(driver_->InUnprepareHeader(handle, &buffers[0].header), platform::MidiErrStillPlaying);
  EXPECT_EQ(driver_->InClose(handle), platform::MidiErrStillPlaying);
  EXPECT_EQ(driver_->InStop(handle), 0u);
  EXPECT_EQ(driver_->InReset(handle), 0u);
  calls = callbacks.WaitFor(5);
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[4].header, &buffers[0].header);
  EXPECT_TRUE(calls[4].bytes.empty());
  EXPECT_EQ(driver_->InUnprepareHeader(handle, &buffers[0].header), 0u);
  EXPECT_EQ(driver_->InClose(handle), 0u);
  EXPECT_EQ(driver_->InClose(handle), platform::MmSysErrInvalHandle);
}

TEST_F(RtMidiDriverTest, LongMessagesLeaveAsTheyAreAndComeBackDone) {
  const std::uint32_t out = OutIndex("peer-in:in");
  ASSERT_LT(out, driver_->OutGetNumDevs());
  Callbacks callbacks;
  platform::MidiHandle handle = nullptr;
  ASSERT_EQ(driver_->OutOpen(&handle, out, Callbacks::Record, reinterpret_cast<std::uintptr_t>(&callbacks)), 0u);
  Buffer buffer;
  const Bytes identity = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  std::memcpy(buffer.data, identity.data(), identity.size());
  buffer.header.dwBufferLength = buffer.header.dwBytesRecorded = static_cast<std::uint32_t>(identity.size());
  EXPECT_EQ(driver_->OutLongMsg(handle, &buffer.header), platform::MidiErrUnprepared);
  ASSERT_EQ(driver_->OutPrepareHeader(handle, &buffer.header), 0u);
  // Sent again (three times at most) only when nothing at all arrived: an
  // xrun of the non-realtime server drops a whole cycle.
  std::vector<Bytes> heard;
  for (int attempt = 0; attempt < 3 && heard.empty(); ++attempt) {
    ASSERT_EQ(driver_->OutLongMsg(handle, &buffer.header), 0u);
    const auto calls = callbacks.WaitFor(static_cast<std::size_t>(attempt) + 1);
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(attempt) + 1);
    EXPECT_EQ(calls.back().message, platform::MomDone);
    EXPECT_EQ(calls.back().header, &buffer.header);
    heard = Heard(1);
  }
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], identity);
  EXPECT_EQ(driver_->OutUnprepareHeader(handle, &buffer.header), 0u);
  EXPECT_EQ(driver_->OutReset(handle), 0u);
  EXPECT_EQ(driver_->OutClose(handle), 0u);
  EXPECT_EQ(driver_->OutClose(handle), platform::MmSysErrInvalHandle);
}

// The program says in one line of its own what is missing and what to do,
// and no line of the MIDI libraries' comes before it. JACK is asked for a
// server name that nothing runs; the ALSA cases need a computer without a
// sequencer, such as the build machines.
TEST(NoMidiSystem, OneLineSaysWhatIsMissingAndWhatToDo) {
  struct Case {
    std::vector<std::string> arguments;
    const char* reason;  // the line after "kelmora-flash: cannot use the MIDI system: "
  };
  const std::string noSequencer =
      "no ALSA sequencer here (/dev/snd/seq is missing); load the snd-seq kernel module "
      "(modprobe snd-seq), or use --api jack or --virtual";
  const std::string noServer =
      "no JACK server is running; start one (e.g. jackd -d alsa), or leave out --api jack to use "
      "the ALSA sequencer, or use --virtual";
  const bool sequencerHere = access("/dev/snd/seq", F_OK) == 0;
  const std::vector<Case> cases = {
      {{"ports"}, noSequencer.c_str()},
      {{"scan"}, noSequencer.c_str()},
      {{"flash", "--yes"}, noSequencer.c_str()},
      {{"emulate"}, noSequencer.c_str()},
      {{"--api", "jack", "ports"}, noServer.c_str()},
      {{"--api", "jack", "flash", "--yes"}, noServer.c_str()},
      {{"--api", "jack", "emulate"}, noServer.c_str()},
  };
  setenv("JACK_DEFAULT_SERVER", ("kf-nobody-" + std::to_string(getpid())).c_str(), 1);
  const std::string log = cli_test::TempPath("no-midi-" + std::to_string(getpid()) + ".log");
  int run = 0;
  for (const Case& c : cases) {
    if (c.arguments[0] != "--api" && sequencerHere) continue;
    std::vector<std::string> argv{KF_FLASH_EXE};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(c.arguments.back());
    cli_test::Child program(argv, log);
    EXPECT_EQ(program.Wait(std::chrono::seconds(30)), 1);
    EXPECT_EQ(program.Output(), std::string("kelmora-flash: cannot use the MIDI system: ") + c.reason + "\n");
    ++run;
  }
  std::remove(log.c_str());
  if (sequencerHere) GTEST_SKIP() << "an ALSA sequencer is here: only the JACK cases ran (" << run << ")";
}
