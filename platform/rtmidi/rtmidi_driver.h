// The Linux MIDI driver behind the winmm-shaped seam, on RtMidi (ALSA
// sequencer or JACK). A thin adapter: RtMidi speaks in whole messages and
// callbacks on its own thread, winmm in long messages, input buffers and a
// callback; this file maps one onto the other.
//
// The mapping:
//  - Ports: the names RtMidi lists when the driver is made are the device
//    list (indices stay fixed for the driver's life even when ports come and
//    go). Open looks the name up again, since the index RtMidi uses moves
//    when other ports appear (under JACK, the ports this program opens
//    itself). Capabilities: the name (31 characters at most), identifiers
//    0, and every output MOD_MIDIPORT, since RtMidi cannot tell a synth.
//  - Output: OutLongMsg hands the buffer's bytes to RtMidi at once
//    (sendMessage copies them) and reports MOM_DONE through the callback
//    before it returns: the driver is done with the buffer then. A chunk
//    that is part of a longer SysEx message leaves as it is, as winmm sends
//    it; the receiver joins the pieces.
//  - Input: InAddBuffer queues a buffer. RtMidi's callback (its own thread)
//    fills queued buffers with the message, 128 bytes each, and hands each
//    back with MIM_LONGDATA; a SysEx message that finds no buffer is dropped
//    and counted, as winmm drops it. Short messages go to the callback as
//    MIM_DATA (status and data bytes packed little-endian). Nothing arrives
//    before InStart or after InStop. InReset hands every queued buffer back
//    empty. The transport's callbacks only queue and signal.
//  - Close waits for RtMidi's thread to end, so no callback runs after it.
//  - Under JACK a watch (jack_watch.h) follows every connection an open made;
//    when one goes, or the server stops, the port answers every call with
//    MMSYSERR_NODRIVER and an input hands its queued buffers back empty, as
//    a winmm port of an unplugged interface does.
//
// No exception crosses the seam: RtMidi's errors become winmm error codes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/midi_driver.h"
#include "platform/rtmidi/jack_watch.h"

namespace rtmidi {

enum class Api { Alsa, Jack };

// MMSYSERR_ERROR and MMSYSERR_BADDEVICEID.
inline constexpr std::uint32_t MmSysErrError = 1;
inline constexpr std::uint32_t MmSysErrBadDeviceId = 2;
inline constexpr std::size_t InputBufferBytes = 128;

class RtMidiDriver final : public platform::MidiDriver {
 public:
  // None, with the reason in `error`, when the MIDI system cannot be opened
  // (no ALSA sequencer, no JACK server).
  static std::unique_ptr<RtMidiDriver> Create(Api api, const std::string& clientName,
                                              std::string& error);
  ~RtMidiDriver() override;
  RtMidiDriver(const RtMidiDriver&) = delete;
  RtMidiDriver& operator=(const RtMidiDriver&) = delete;

  // SysEx bytes that found no input buffer, over all inputs.
  std::uint64_t DroppedBytes() const { return dropped_.load(); }

  std::uint32_t InGetNumDevs() override;
  std::uint32_t OutGetNumDevs() override;
  std::uint32_t InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) override;
  std::uint32_t OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) override;
  std::uint32_t InOpen(platform::MidiHandle* handle, std::uint32_t index,
                       platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t InPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InAddBuffer(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InStart(platform::MidiHandle handle) override;
  std::uint32_t InStop(platform::MidiHandle handle) override;
  std::uint32_t InReset(platform::MidiHandle handle) override;
  std::uint32_t InClose(platform::MidiHandle handle) override;
  std::uint32_t OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                        platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t OutPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutReset(platform::MidiHandle handle) override;
  std::uint32_t OutClose(platform::MidiHandle handle) override;

  struct InPort;
  struct OutPort;

 private:
  RtMidiDriver(Api api, std::string clientName) : api_(api), clientName_(std::move(clientName)) {}
  InPort* FindIn(platform::MidiHandle handle);
  OutPort* FindOut(platform::MidiHandle handle);
  static void Deliver(InPort& port, const std::vector<unsigned char>& message);
  // Under JACK: the other client's port's connections before an open.
  std::vector<std::string> ConnectionsOf(const std::string& port) const;
  // Follows the connection the open made to `theirs` (one that was not in `before`).
  void FollowNew(const void* key, const std::string& theirs, const std::vector<std::string>& before);
  void OnLost(const void* key);

  Api api_;
  std::string clientName_;
  std::vector<std::string> inputs_;
  std::vector<std::string> outputs_;
  std::mutex mutex_;  // the two sets
  std::set<InPort*> openInputs_;
  std::set<OutPort*> openOutputs_;
  std::atomic<std::uint64_t> dropped_{0};
  std::unique_ptr<JackWatch> watch_;  // last: it goes first, and no callback of it runs after
};

}  // namespace rtmidi
