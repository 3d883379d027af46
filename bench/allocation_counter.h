// Counts the heap allocations (every operator new) the process makes while a
// count is open: those of the thread that opened it, and those of all
// threads. For the benchmark's figure of what the upload's send path
// allocates, and the transport test that a warm round trip allocates nothing.
#pragma once

#include <cstdint>

namespace bench {

struct AllocationCount {
  std::uint64_t thisThread = 0;
  std::uint64_t allThreads = 0;
};

// Starts counting, forgetting earlier counts.
void BeginAllocationCount();
// Stops counting and returns what was counted since the begin.
AllocationCount EndAllocationCount();

}  // namespace bench
