// Counts the heap allocations (every operator new) the process makes while a
// count is open: those of the thread that opened it, and those of all threads.
// For the benchmark's check that the upload's send path allocates nothing.
#pragma once

#include <cstdint>

namespace bench {

struct AllocationCount {
  std::uint64_t thisThread = 0;
  std::uint64_t allThreads = 0;
};

// Starts counting (and forgets earlier counts). With `traceFirst` above 0,
// the call stacks of the first that many allocations of the counting thread
// are kept for PrintAllocationTraces.
void BeginAllocationCount(int traceFirst = 0);
// Whether a count is open.
bool AllocationCountOpen();
// Stops counting and returns what was counted since the begin.
AllocationCount EndAllocationCount();
// Prints the kept call stacks (function names need the program linked with
// -rdynamic) to standard output.
void PrintAllocationTraces();

}  // namespace bench
