#include "midi/midi_buffer.h"

#include <atomic>
#include <cstddef>

#include "midi/transport_records.h"

namespace midi {

MidiBuffer* BufferPool = nullptr;
std::atomic<std::size_t> MidiBuffersAllocated{0};

MidiBuffer* BufferGet() {
  MidiBuffer* buffer = nullptr;
  {
    std::lock_guard lock(PoolLock);
    if (BufferPool != nullptr) {
      buffer = BufferPool;
      BufferPool = BufferOf(buffer->header.lpNext);
    }
  }
  if (buffer == nullptr) {
    buffer = NewTransportRecord<MidiBuffer>(TransportRecord::Buffer);
    if (buffer == nullptr) return nullptr;
    MidiBuffersAllocated.fetch_add(1, std::memory_order_relaxed);
    buffer->header.lpData = buffer->data;
  }
  // The buffer is the caller's now; no lock needed.
  buffer->header.dwOffset = 0;
  buffer->header.dwBufferLength = MidiBufferDataSize;
  buffer->header.dwBytesRecorded = 0;
  buffer->header.dwFlags = 0;
  return buffer;
}

void BufferPut(MidiBuffer* buffer) {
  if (buffer == nullptr) return;
  std::lock_guard lock(PoolLock);
  buffer->header.lpNext = BufferPool != nullptr ? &BufferPool->header : nullptr;
  BufferPool = buffer;
}

}  // namespace midi
