// The queue of input buffers that a driver without winmm beneath it keeps
// for a port (the RtMidi and Web MIDI drivers): winmm's rules for adding a
// buffer and for handing one back, written once so that both drivers answer
// the transport alike. Locking is the caller's.
#pragma once

#include <algorithm>
#include <deque>

#include "platform/midi_driver.h"

namespace platform {

using InputBufferQueue = std::deque<MidiHeader*>;

inline bool IsQueued(const InputBufferQueue& queue, const MidiHeader* header) {
  return std::find(queue.begin(), queue.end(), header) != queue.end();
}

// midiInAddBuffer's part after the port's own checks: a buffer already in
// the queue answers MIDIERR_STILLPLAYING; otherwise it joins it empty.
inline std::uint32_t QueueInputBuffer(InputBufferQueue& queue, MidiHeader* header) {
  if (IsQueued(queue, header)) return MidiErrStillPlaying;
  header->dwBytesRecorded = 0;
  header->dwFlags = (header->dwFlags & ~MhdrDone) | MhdrInQueue;
  queue.push_back(header);
  return 0;
}

// A buffer leaving the queue for the transport, filled or empty.
inline void MarkInputDone(MidiHeader* header) {
  header->dwFlags = (header->dwFlags & ~MhdrInQueue) | MhdrDone;
}

}  // namespace platform
