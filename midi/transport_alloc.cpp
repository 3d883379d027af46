#include "midi/transport_alloc.h"

std::atomic<TransportAllocationRefusal> RefuseTransportAllocation{nullptr};
