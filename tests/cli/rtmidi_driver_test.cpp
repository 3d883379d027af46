// The RtMidi driver against a peer on a private JACK server: the test's own
// RtMidi ports stand for the instrument, so every byte both ways is known.
// And kelmora-flash without the MIDI system it was asked to use.
#include <RtMidi.h>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "platform/rtmidi/rtmidi_driver.h"
#include "tests/cli/cli_run.h"
#include "tests/cli/jack_session.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// What the driver's callback was handed: the buffer and its recorded bytes.
struct Calls {
  std::mutex mutex;
  std::vector<std::pair<platform::MidiHeader*, Bytes>> done;
  static void KF_CALLBACK Record(platform::MidiHandle, std::uint32_t, std::uintptr_t self, std::uintptr_t p1,
                                 std::uintptr_t) {
    auto* header = reinterpret_cast<platform::MidiHeader*>(p1);
    const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData);
    std::lock_guard lock(reinterpret_cast<Calls*>(self)->mutex);
    reinterpret_cast<Calls*>(self)->done.emplace_back(header, Bytes(data, data + header->dwBytesRecorded));
  }
  std::size_t Size() {
    std::lock_guard lock(mutex);
    return done.size();
  }
};
// Waits up to five seconds for `ready`.
template <typename F>
bool Within(F ready) {
  for (const auto until = cli_test::SteadyClock::now() + 5s;; std::this_thread::sleep_for(5ms)) {
    if (ready()) return true;
    if (cli_test::SteadyClock::now() > until) return false;
  }
}

TEST(RtMidiDriver, FillsTheInputBuffersItIsGivenAndSendsLongMessagesWhole) {
  cli_test::JackSession jack = cli_test::StartJackSession(KF_FLASH_EXE, cli_test::TempPath("rtmidi-"));
  if (!jack.failure.empty()) GTEST_SKIP() << "no JACK here: " << jack.failure;
  RtMidiOut peerOut(RtMidi::UNIX_JACK, "peer-out");
  peerOut.openVirtualPort("out");
  RtMidiIn peerIn(RtMidi::UNIX_JACK, "peer-in");
  peerIn.ignoreTypes(false, true, true);
  peerIn.openVirtualPort("in");
  std::string error;
  const auto driver = rtmidi::RtMidiDriver::Create(rtmidi::Api::Jack, "driver-test", error);
  ASSERT_NE(driver, nullptr) << error;
  std::uint32_t in = 0, out = 0;
  platform::MidiInCaps inCaps{};
  platform::MidiOutCaps outCaps{};
  while (in < driver->InGetNumDevs() && driver->InGetDevCaps(in, &inCaps) == 0 &&
         std::strcmp(inCaps.szPname, "peer-out:out") != 0) ++in;
  while (out < driver->OutGetNumDevs() && driver->OutGetDevCaps(out, &outCaps) == 0 &&
         std::strcmp(outCaps.szPname, "peer-in:in") != 0) ++out;
  ASSERT_LT(in, driver->InGetNumDevs());
  ASSERT_LT(out, driver->OutGetNumDevs());

  // 300 bytes into two buffers of 128: the last 44 bytes find none. A
  // non-realtime server loses a whole cycle at an xrun: a message that got
  // nowhere at all is sent again, three times at most.
  Calls inCalls;
  platform::MidiHandle handle = nullptr;
  ASSERT_EQ(driver->InOpen(&handle, in, Calls::Record, reinterpret_cast<std::uintptr_t>(&inCalls)), 0u);
  platform::MidiHeader headers[2]{};
  char data[2][128];
  for (int i = 0; i < 2; ++i) {
    headers[i].lpData = data[i];
    headers[i].dwBufferLength = 128;
    ASSERT_EQ(driver->InPrepareHeader(handle, &headers[i]), 0u);
    ASSERT_EQ(driver->InAddBuffer(handle, &headers[i]), 0u);
  }
  ASSERT_EQ(driver->InStart(handle), 0u);
  std::vector<unsigned char> sysex(300, 0x11);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  for (int attempt = 0; attempt < 3; ++attempt) {
    peerOut.sendMessage(&sysex);
    if (Within([&] { return inCalls.Size() > 0; })) break;
  }
  ASSERT_TRUE(Within([&] { return inCalls.Size() == 2; }));
  EXPECT_EQ(inCalls.done[0], std::make_pair(&headers[0], Bytes(sysex.begin(), sysex.begin() + 128)));
  EXPECT_EQ(inCalls.done[1], std::make_pair(&headers[1], Bytes(sysex.begin() + 128, sysex.begin() + 256)));
  EXPECT_TRUE(headers[0].dwFlags & platform::MhdrDone);
  EXPECT_TRUE(Within([&] { return driver->DroppedBytes() == 44; }));
  // A queued buffer holds the close off; the reset hands it back empty.
  ASSERT_EQ(driver->InAddBuffer(handle, &headers[0]), 0u);
  EXPECT_EQ(driver->InClose(handle), platform::MidiErrStillPlaying);
  EXPECT_EQ(driver->InReset(handle), 0u);
  ASSERT_TRUE(Within([&] { return inCalls.Size() == 3; }));
  EXPECT_EQ(inCalls.done[2], std::make_pair(&headers[0], Bytes{}));
  for (platform::MidiHeader& h : headers) EXPECT_EQ(driver->InUnprepareHeader(handle, &h), 0u);
  EXPECT_EQ(driver->InClose(handle), 0u);

  Calls outCalls;
  ASSERT_EQ(driver->OutOpen(&handle, out, Calls::Record, reinterpret_cast<std::uintptr_t>(&outCalls)), 0u);
  char identity[] = {'\xF0', 0x7E, 0x7F, 0x06, 0x01, '\xF7'};
  platform::MidiHeader header{};
  header.lpData = identity;
  header.dwBufferLength = header.dwBytesRecorded = sizeof identity;
  ASSERT_EQ(driver->OutPrepareHeader(handle, &header), 0u);
  std::vector<unsigned char> heard;
  for (int attempt = 0; attempt < 3 && heard.empty(); ++attempt) {
    ASSERT_EQ(driver->OutLongMsg(handle, &header), 0u);
    EXPECT_TRUE(Within([&] { return outCalls.Size() == static_cast<std::size_t>(attempt) + 1; }));
    Within([&] { return peerIn.getMessage(&heard), !heard.empty(); });
  }
  EXPECT_EQ(heard, std::vector<unsigned char>(identity, identity + sizeof identity));
  EXPECT_EQ(outCalls.done.back().first, &header) << "handed back done";
  EXPECT_EQ(driver->OutUnprepareHeader(handle, &header), 0u);
  EXPECT_EQ(driver->OutClose(handle), 0u);
}

// The program says in one line of its own what is missing and what to do.
// JACK is asked for a server that nothing runs; the ALSA cases need a
// computer without a sequencer, such as the build machines.
TEST(NoMidiSystem, OneLineSaysWhatIsMissingAndWhatToDo) {
  const std::string noSequencer = "no ALSA sequencer here (/dev/snd/seq is missing); load the snd-seq kernel module "
                                  "(modprobe snd-seq), or use --api jack or --virtual";
  const std::string noServer = "no JACK server is running; start one (e.g. jackd -d alsa), or leave out --api jack "
                               "to use the ALSA sequencer, or use --virtual";
  const bool sequencerHere = access("/dev/snd/seq", F_OK) == 0;
  setenv("JACK_DEFAULT_SERVER", ("kf-nobody-" + std::to_string(getpid())).c_str(), 1);
  const std::string log = cli_test::TempPath("no-midi-" + std::to_string(getpid()) + ".log");
  for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"scan"}, noSequencer}, {{"emulate"}, noSequencer}, {{"--api", "jack", "flash", "--yes"}, noServer}}) {
    if (args[0] != "--api" && sequencerHere) continue;
    std::vector<std::string> argv{KF_FLASH_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    cli_test::Child program(argv, log);
    EXPECT_EQ(program.Wait(30s), 1) << args.back();
    EXPECT_EQ(program.Output(), "kelmora-flash: cannot use the MIDI system: " + reason + "\n");
  }
  if (sequencerHere) GTEST_SKIP() << "an ALSA sequencer is here: only the JACK case ran";
}

}  // namespace
