// The transport's test hooks: a look at the pool, and the way back to the
// state of a fresh process.
#include "tests/midi/transport_testing.h"

#include "midi/input_dispatcher.h"
#include "midi/listeners.h"
#include "midi/midi_buffer.h"

using namespace midi;

namespace transport_testing {

std::size_t BufferPoolSize() {
  std::lock_guard lock(PoolLock);
  std::size_t n = 0;
  for (MidiBuffer* b = BufferPool; b != nullptr; b = BufferOf(b->header.lpNext)) ++n;
  return n;
}

std::size_t BuffersAllocated() { return MidiBuffersAllocated.load(); }

void ResetTransport() {
  const auto freeAll = [](auto*& list, auto next) {
    while (auto* record = list) {
      list = next(record);
      delete record;
    }
  };
  const auto nextListener = [](SysExListener* l) { return l->next; };
  const auto nextBuffer = [](MidiBuffer* b) { return BufferOf(b->header.lpNext); };
  {
    std::lock_guard lock(ListenerLock);
    freeAll(GlobalListeners, nextListener);
    freeAll(ListenerFreeList, nextListener);
    for (MidiPort* port = PortList; port != nullptr; port = port->next)
      freeAll(port->listeners, nextListener);
    freeAll(PortList, [](MidiPort* p) { return p->next; });
  }
  {
    std::lock_guard lock(PoolLock);
    freeAll(BufferPool, nextBuffer);
    MidiBuffer* queued = BufferOf(DispatchQueue);
    freeAll(queued, nextBuffer);
    DispatchQueue = nullptr;
  }
  MidiBuffersAllocated.store(0);
  DispatcherStop.store(0);
  RefuseTransportAllocation.store(nullptr);
  RefuseDispatcherStart.store(false);
  SetDispatcherMode(DispatcherMode::Thread);
}

}  // namespace transport_testing
