// The MIDI world owners really have, as behaviours a simulated MIDI system can
// show: a port another program holds or shares, another program's traffic on
// the instrument's input, sends that block, input lost while no buffer is
// queued, an interface that drops bytes, one that is unplugged and plugged
// back in, and a few quirks of drivers. One table for the two simulated MIDI
// systems: the simulated driver (`kelmora-flash --virtual --world ...`, the
// native tests) and the MIDI driver the Wine tests install (KF_WINE_MIDI).
//
// The syntax, comma-separated settings:
//   shared        another program holds the instrument's ports and opening
//                 them succeeds all the same (a multi-client MIDI stack)
//   busy-in       another program holds the instrument's input: opening it
//                 answers MMSYSERR_ALLOCATED
//   traffic=K+..  another program's traffic on the instrument's input, K one
//                 of sense (FE every 300 ms), clock (F8 at 120 BPM), notes
//                 (notes and controllers with running status, every 250 ms),
//                 sysex (a foreign SysEx in front of every message the
//                 instrument sends, and another maker's 150-byte dump every
//                 second between them); sense and clock also put one
//                 real-time byte inside every message the instrument sends
//   blocking-out  a long message returns only after its wire time, with
//                 MOM_DONE given before it returns
//   early-input   SysEx input that arrives while no buffer is queued is lost
//   drop-byte=K   every K-th byte sent to the instrument never reaches it
//   unplug=N[+error]  once the N-th long message to the instrument has left,
//                 its interface is gone: every call on its ports answers
//                 MMSYSERR_NODRIVER (MMSYSERR_ERROR with +error), queued
//                 input buffers come back empty, sends in flight come back
//                 done, and the ports' clients get MIM_CLOSE and MOM_CLOSE
//   replug=S      S seconds after the unplug the ports are back, under the
//                 same names (with unplug only)
//   split=N       SysEx input comes back in buffers of at most N bytes
//                 (Windows' newer MIDI stack handed out 6-byte pieces)
// Quirks of winmm drivers only the Wine driver shows:
//   sync-done     MOM_DONE inside midiOutLongMsg, without the wire time
//   notready=K    the first K long messages answer MIDIERR_NOTREADY
//   longerror=P   each SysEx input buffer comes back with MIM_LONGERROR with
//                 probability P, drawn the same way on every run
// A behaviour the table does not know is refused, never ignored: a misspelt
// one would test nothing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum TrafficKind : std::uint8_t { TrafficSense = 1, TrafficClock = 2, TrafficNotes = 4, TrafficSysEx = 8 };
inline constexpr std::size_t TrafficKinds = 4;

struct WorldBehaviours {
  bool shared = false;
  bool busyIn = false;
  std::uint8_t traffic = 0;  // TrafficKind bits
  bool blockingOut = false;
  bool earlyInput = false;
  std::uint32_t dropByte = 0;    // 0: nothing dropped
  std::uint32_t unplugAfter = 0;  // 0: never unplugged
  bool unplugError = false;
  std::optional<std::uint32_t> replugSeconds;
  std::uint32_t split = 0;
  bool syncDone = false;
  std::uint32_t notReady = 0;
  double longError = 0;
  // The error every call answers once the interface is gone.
  std::uint32_t GoneError() const;
};

// A setting the table does not know, offered to the caller (the Wine
// driver's settings of its instrument): true when the caller took it.
using OtherSetting = std::function<bool(std::string_view key, std::optional<std::string_view> value)>;

// Parses the comma-separated settings into `behaviours`. False, with the
// reason in `error`, on an unknown or malformed setting or a contradiction
// (shared with busy-in, replug without unplug).
bool ParseWorldBehaviours(std::string_view text, WorldBehaviours& behaviours, std::string& error,
                          const OtherSetting& other = nullptr);

// The first quirk in `behaviours` that only the Wine driver shows
// (sync-done, notready, longerror), or empty.
std::string_view DriverQuirk(const WorldBehaviours& behaviours);

// What the behaviours did in one run, for the line that closes it.
struct WorldEffects {
  std::uint32_t opens = 0;  // of the instrument's ports, while shared
  std::array<std::uint32_t, TrafficKinds> injected{};  // messages, by kind
  std::uint32_t insideReplies = 0;  // real-time bytes put inside the instrument's messages
  std::uint32_t blockedSends = 0;
  std::uint64_t blockedMs = 0;
  std::uint64_t inputLost = 0;  // bytes that found no buffer
  std::uint64_t dropped = 0;
  std::optional<std::uint32_t> unpluggedAtMs;  // since the world began
  std::optional<std::uint32_t> repluggedAtMs;
};

// "traffic: 812 messages (sense 40, clock 650, notes 48, sysex 74), 96 real-
// time bytes inside replies; unplug=60: unplugged at 12.345 s; ..." for each
// behaviour in effect; "no behaviours" without any.
std::string DescribeWorld(const WorldBehaviours& behaviours, const WorldEffects& effects);

// Another program's traffic on one input, on a clock of milliseconds: the
// timed messages, and what arrives with each message of the instrument.
class TrafficSource {
 public:
  TrafficSource(std::uint8_t kinds, std::uint32_t startMs);
  bool Active() const { return kinds_ != 0; }
  // When the next timed message is due.
  std::uint32_t NextDue() const;
  // Appends every timed message due by `now`, in time order, to `out`.
  void TakeDue(std::uint32_t now, std::vector<std::uint8_t>& out, WorldEffects& effects);
  // Appends `message` of the instrument as it reaches the input: a foreign
  // SysEx in front of it (sysex) and a real-time byte inside it (sense or
  // clock), where a merging interface or a shared port would put them.
  void Merge(std::span<const std::uint8_t> message, std::vector<std::uint8_t>& out, WorldEffects& effects);

 private:
  std::uint8_t kinds_;
  std::uint32_t start_;
  std::array<std::uint32_t, TrafficKinds> sent_{};  // timed messages of each kind so far
  std::uint32_t inFront_ = 0;                         // foreign messages put in front so far
};

// An interface that loses every K-th byte it carries.
struct ByteDropper {
  std::uint32_t every = 0;
  std::uint64_t carried = 0;
  // True when this byte is lost.
  bool Drops() { return every != 0 && ++carried % every == 0; }
};

}  // namespace sim
