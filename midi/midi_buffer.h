// The MidiBuffer: a driver MIDI header followed by its 128-byte data area, the
// one kind of buffer the transport uses for output chunks and input alike,
// recycled through a last-in-first-out pool and never freed during a run.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "platform/midi_driver.h"

namespace midi {

inline constexpr std::uint32_t MidiBufferDataSize = 128;

struct MidiBuffer {
  platform::MidiHeader header;
  char data[MidiBufferDataSize];
  // How the driver handed an input buffer back (MimLongData or MimLongError),
  // written by the input callback for the dispatcher.
  std::uint32_t returnedAs;
};
// The header is the first member of a standard-layout record, so a header
// the driver hands back converts to its MidiBuffer.
static_assert(std::is_standard_layout_v<MidiBuffer>);

inline MidiBuffer* BufferOf(platform::MidiHeader* header) {
  return reinterpret_cast<MidiBuffer*>(header);
}

// The bytes a returned input buffer holds, never more than its data area.
inline std::span<const std::uint8_t> RecordedBytes(const MidiBuffer& buffer) {
  const std::uint32_t length =
      std::min({buffer.header.dwBytesRecorded, buffer.header.dwBufferLength, MidiBufferDataSize});
  return {reinterpret_cast<const std::uint8_t*>(buffer.data), length};
}

// Head of the pool, linked through header.lpNext; guarded by PoolLock.
extern MidiBuffer* BufferPool;

// How many buffers were ever made; the pool's size is bounded by it.
extern std::atomic<std::size_t> MidiBuffersAllocated;

// A buffer with dwBufferLength 128 and dwBytesRecorded, dwFlags and dwOffset
// 0; dwUser and the data hold whatever they held last. None when no memory
// can be had.
MidiBuffer* BufferGet();
// Returns a buffer to the pool.
void BufferPut(MidiBuffer* buffer);

}  // namespace midi
