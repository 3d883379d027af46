// Zero-initialised allocation of the transport's records (ports, buffers,
// listeners), with a hook through which tests make an allocation fail as if
// memory had run out. Records are value-initialised, so every field starts
// at zero or none.
#pragma once

#include <atomic>
#include <new>

enum class TransportRecord { Port, Buffer, Listener };

// Returns true to refuse the allocation of that kind of record. None (the
// default) refuses nothing.
using TransportAllocationRefusal = bool (*)(TransportRecord kind);
extern std::atomic<TransportAllocationRefusal> RefuseTransportAllocation;

template <typename Record>
Record* NewTransportRecord(TransportRecord kind) {
  const TransportAllocationRefusal refuse = RefuseTransportAllocation.load(std::memory_order_relaxed);
  if (refuse != nullptr && refuse(kind)) return nullptr;
  return new (std::nothrow) Record{};
}
