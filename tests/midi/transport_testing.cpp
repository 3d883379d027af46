#include "tests/midi/transport_testing.h"

#include "midi/input_dispatcher.h"
#include "midi/listeners.h"
#include "midi/midi_buffer.h"
#include "midi/transport_records.h"

using namespace midi;

namespace transport_testing {
namespace {

template <typename Node, typename Next>
std::size_t Length(const Node* node, Next next) {
  std::size_t n = 0;
  for (; node != nullptr; node = next(node)) ++n;
  return n;
}

void FreeListeners(SysExListener*& list) {
  while (list != nullptr) {
    SysExListener* listener = list;
    list = listener->next;
    delete listener;
  }
}

void FreeHeaders(platform::MidiHeader*& list) {
  while (list != nullptr) {
    platform::MidiHeader* header = list;
    list = header->lpNext;
    delete BufferOf(header);
  }
}

}  // namespace

std::size_t BufferPoolSize() {
  std::lock_guard lock(PoolLock);
  return Length(BufferPool, [](const MidiBuffer* b) { return BufferOf(b->header.lpNext); });
}

std::size_t BuffersAllocated() { return MidiBuffersAllocated.load(); }

std::size_t DispatchQueueLength() {
  std::lock_guard lock(PoolLock);
  return Length(DispatchQueue, [](const platform::MidiHeader* h) { return h->lpNext; });
}

std::size_t ListenerFreeListSize() {
  std::lock_guard lock(ListenerLock);
  return Length(ListenerFreeList, [](const SysExListener* l) { return l->next; });
}

void ResetTransport() {
  {
    std::lock_guard lock(ListenerLock);
    FreeListeners(GlobalListeners);
    FreeListeners(ListenerFreeList);
    while (PortList != nullptr) {
      MidiPort* port = PortList;
      PortList = port->next;
      FreeListeners(port->listeners);
      delete port;
    }
  }
  {
    std::lock_guard lock(PoolLock);
    platform::MidiHeader* pool = BufferPool != nullptr ? &BufferPool->header : nullptr;
    BufferPool = nullptr;
    FreeHeaders(pool);
    FreeHeaders(DispatchQueue);
  }
  MidiBuffersAllocated.store(0);
  DispatcherStop.store(0);
  RefuseTransportAllocation.store(nullptr);
  RefuseDispatcherStart.store(false);
}

}  // namespace transport_testing
