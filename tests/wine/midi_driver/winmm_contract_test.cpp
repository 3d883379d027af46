// The MIDI driver for Wine seen through Wine's own winmm, as a program sees
// it: its ports and their capabilities, the open and close callbacks, SysEx
// through the loopback pair in each input behaviour, the reset, and the
// refusals the behaviours choose. Each case runs in a process of its own and
// sets KF_WINE_MIDI before its first winmm call, when the driver reads it.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr UINT InstrumentPort = 0, LoopbackPort = 1;
using Bytes = std::vector<std::uint8_t>;

struct Event {
  UINT message;
  Bytes bytes;  // what an input buffer held
  DWORD threadId;
};
std::mutex eventsMutex;
std::vector<Event> events;

void CALLBACK Record(HANDLE, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
  Event e{message, {}, GetCurrentThreadId()};
  if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
    const auto* header = reinterpret_cast<const MIDIHDR*>(param1);
    e.bytes.assign(header->lpData, header->lpData + header->dwBytesRecorded);
  }
  std::lock_guard lock(eventsMutex);
  events.push_back(std::move(e));
}

std::vector<Event> Events() {
  std::lock_guard lock(eventsMutex);
  return events;
}

std::size_t Count(const std::vector<Event>& seen, UINT message) {
  return std::count_if(seen.begin(), seen.end(), [&](const Event& e) { return e.message == message; });
}

// The events once `done` holds for them (the wait is bounded).
template <typename Done>
std::vector<Event> WaitFor(Done done) {
  for (int i = 0; i < 1000 && !done(Events()); ++i) Sleep(5);
  return Events();
}

// An input and an output opened with callbacks, 128-byte buffers queued on
// the input and the input started; and one message sent on the output.
struct Ports {
  HMIDIIN in = nullptr;
  HMIDIOUT out = nullptr;
  std::vector<std::vector<char>> data;
  std::vector<MIDIHDR> buffers;
  std::vector<char> sent;
  MIDIHDR sentHeader{};

  void Open(UINT port, std::size_t count) {
    ASSERT_EQ(midiInOpen(&in, port, DWORD_PTR(Record), 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutOpen(&out, port, DWORD_PTR(Record), 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    data.assign(count, std::vector<char>(128));
    buffers.assign(count, MIDIHDR{});
    for (std::size_t i = 0; i < count; ++i) {
      buffers[i].lpData = data[i].data();
      buffers[i].dwBufferLength = 128;
      ASSERT_EQ(midiInPrepareHeader(in, &buffers[i], sizeof(MIDIHDR)), MMSYSERR_NOERROR);
      ASSERT_EQ(midiInAddBuffer(in, &buffers[i], sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(midiInStart(in), MMSYSERR_NOERROR);
  }
  MMRESULT Send(const Bytes& bytes) {
    sent.assign(bytes.begin(), bytes.end());
    sentHeader = MIDIHDR{};
    sentHeader.lpData = sent.data();
    sentHeader.dwBufferLength = static_cast<DWORD>(sent.size());
    midiOutPrepareHeader(out, &sentHeader, sizeof sentHeader);
    return midiOutLongMsg(out, &sentHeader, sizeof sentHeader);
  }
  void Close() {
    EXPECT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
  }
};

TEST(KfMidiDriver, ReportsItsPortsAsARealSystemWould) {
  ASSERT_EQ(midiInGetNumDevs(), 2u);
  ASSERT_EQ(midiOutGetNumDevs(), 3u);
  const std::pair<const char*, WORD> outputs[] = {
      {"MIDI Interface A Out", MOD_MIDIPORT}, {"Loopback MIDI Out", MOD_MIDIPORT}, {"Wavetable Synth A", MOD_WAVETABLE}};
  std::vector<DWORD> ids;
  for (UINT i = 0; i < 3; ++i) {
    MIDIOUTCAPSA caps{};
    ASSERT_EQ(midiOutGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, outputs[i].first);
    EXPECT_EQ(caps.wTechnology, outputs[i].second);
    ids.push_back(MAKELONG(caps.wPid, caps.wMid));
  }
  for (const char* name : {"MIDI Interface A In", "Loopback MIDI In"}) {
    MIDIINCAPSA caps{};
    ASSERT_EQ(midiInGetDevCapsA(ids.size() - 3, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, name);
    ids.push_back(MAKELONG(caps.wPid, caps.wMid));
  }
  EXPECT_NE(ids[3], 0x01310001u);  // the program would take the instrument's input for USB
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end()) << "two ports share maker and product";
}

struct LoopbackCase {
  const char* name;
  const char* settings;
  std::vector<std::size_t> pieces;  // the buffers a 300-byte message comes back in
  UINT message;
};

class Loopback : public testing::TestWithParam<LoopbackCase> {};

TEST_P(Loopback, SysExComesBackWholeInTheBehavioursPieces) {
  SetEnvironmentVariableA("KF_WINE_MIDI", GetParam().settings);
  Ports loopback;
  loopback.Open(LoopbackPort, 24);
  HMIDIOUT again = nullptr;
  EXPECT_EQ(midiOutOpen(&again, LoopbackPort, DWORD_PTR(Record), 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
  Bytes sysex(300, 0x55);
  sysex.front() = 0xF0, sysex.back() = 0xF7;
  ASSERT_EQ(loopback.Send(sysex), MMSYSERR_NOERROR);
  const bool doneInside = Count(Events(), MOM_DONE) == 1;
  const auto seen = WaitFor([](const auto& e) {
    return Count(e, MOM_DONE) == 1 &&
           std::any_of(e.begin(), e.end(), [](const Event& x) { return !x.bytes.empty() && x.bytes.back() == 0xF7; });
  });
  Bytes joined;
  std::vector<std::size_t> pieces;
  for (const Event& e : seen) {
    if (e.message == MOM_DONE) {
      EXPECT_EQ(e.threadId == GetCurrentThreadId(), doneInside);
    }
    if (e.bytes.empty()) continue;
    EXPECT_EQ(e.message, GetParam().message);
    joined.insert(joined.end(), e.bytes.begin(), e.bytes.end());
    pieces.push_back(e.bytes.size());
  }
  EXPECT_EQ(joined, sysex);
  EXPECT_EQ(pieces, GetParam().pieces);
  EXPECT_EQ(doneInside, std::string(GetParam().settings) == "sync-done");
  loopback.Close();
  const auto all = Events();
  ASSERT_GE(all.size(), 4u);
  EXPECT_EQ((std::vector{all[0].message, all[1].message, all[all.size() - 2].message, all.back().message}),
            (std::vector<UINT>{MIM_OPEN, MOM_OPEN, MIM_CLOSE, MOM_CLOSE}));
}

INSTANTIATE_TEST_SUITE_P(Behaviours, Loopback,
                         testing::Values(LoopbackCase{"Plain", "", {128, 128, 44}, MIM_LONGDATA},
                                         LoopbackCase{"SyncDone", "sync-done", {128, 128, 44}, MIM_LONGDATA},
                                         LoopbackCase{"Split100", "split=100", {100, 100, 100}, MIM_LONGDATA},
                                         LoopbackCase{"LongError", "longerror=1", {128, 128, 44}, MIM_LONGERROR}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(KfMidiDriver, ResetHandsBackEveryQueuedBufferEmpty) {
  Ports loopback;
  loopback.Open(LoopbackPort, 2);
  ASSERT_EQ(loopback.Send({0xF0, 0x01, 0x02}), MMSYSERR_NOERROR);  // unfinished: it stays in the first buffer
  WaitFor([](const auto& e) { return Count(e, MOM_DONE) == 1; });
  loopback.Close();
  for (const MIDIHDR& b : loopback.buffers) {
    EXPECT_EQ(b.dwBytesRecorded, 0u);
    EXPECT_EQ(b.dwFlags & (MHDR_DONE | MHDR_INQUEUE), DWORD(MHDR_DONE));
  }
  EXPECT_EQ(Count(Events(), MIM_LONGDATA), 2u);
}

TEST(KfMidiDriver, RefusesWhatTheBehavioursChoose) {
  SetEnvironmentVariableA("KF_WINE_MIDI", "notready=2,busy-in");
  HMIDIIN in = nullptr;
  EXPECT_EQ(midiInOpen(&in, InstrumentPort, DWORD_PTR(Record), 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
  Ports loopback;
  loopback.Open(LoopbackPort, 1);
  const Bytes identity = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  EXPECT_EQ(loopback.Send(identity), MIDIERR_NOTREADY);
  EXPECT_EQ(loopback.Send(identity), MIDIERR_NOTREADY);
  EXPECT_EQ(loopback.Send(identity), MMSYSERR_NOERROR);
  const auto seen = WaitFor([](const auto& e) { return Count(e, MIM_LONGDATA) == 1; });
  const auto echo = std::find_if(seen.begin(), seen.end(), [](const Event& e) { return e.message == MIM_LONGDATA; });
  ASSERT_NE(echo, seen.end());
  EXPECT_EQ(echo->bytes, identity);
  loopback.Close();
}

}  // namespace
