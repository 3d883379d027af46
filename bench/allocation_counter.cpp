// Replaces the global operator new and delete with counting versions over
// malloc and free. Counting is off unless a count is open; the counters are
// atomics and a thread-local flag, so counting itself allocates nothing.
#include "bench/allocation_counter.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <execinfo.h>
#include <new>

namespace bench {
namespace {

constexpr int TraceCapacity = 16;
constexpr int TraceDepth = 24;

std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_all{0};
thread_local bool t_counting = false;
thread_local std::uint64_t t_count = 0;

struct Trace {
  void* frames[TraceDepth];
  int depth;
};
Trace g_traces[TraceCapacity];
int g_traceWanted = 0;
int g_traceKept = 0;
thread_local bool t_tracing = false;  // backtrace itself may allocate once

void Count() {
  if (!g_counting.load(std::memory_order_relaxed)) return;
  g_all.fetch_add(1, std::memory_order_relaxed);
  if (!t_counting) return;
  ++t_count;
  if (g_traceKept < g_traceWanted && !t_tracing) {
    t_tracing = true;
    Trace& trace = g_traces[g_traceKept++];
    trace.depth = backtrace(trace.frames, TraceDepth);
    t_tracing = false;
  }
}

void* Allocate(std::size_t size) {
  Count();
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  Count();
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
  if (void* p = std::aligned_alloc(align, rounded != 0 ? rounded : align)) return p;
  throw std::bad_alloc();
}

}  // namespace

void BeginAllocationCount(int traceFirst) {
  // Resolve backtrace's own lazy loading before counting starts.
  void* warm[1];
  backtrace(warm, 1);
  g_traceWanted = traceFirst < TraceCapacity ? traceFirst : TraceCapacity;
  g_traceKept = 0;
  t_count = 0;
  g_all.store(0);
  t_counting = true;
  g_counting.store(true);
}

bool AllocationCountOpen() { return g_counting.load(); }

AllocationCount EndAllocationCount() {
  g_counting.store(false);
  t_counting = false;
  return {t_count, g_all.load()};
}

void PrintAllocationTraces() {
  for (int i = 0; i < g_traceKept; ++i) {
    std::printf("  allocation %d on the uploading thread:\n", i + 1);
    char** names = backtrace_symbols(g_traces[i].frames, g_traces[i].depth);
    for (int f = 1; f < g_traces[i].depth && names != nullptr; ++f) std::printf("    %s\n", names[f]);
    std::free(names);
  }
}

}  // namespace bench

void* operator new(std::size_t size) { return bench::Allocate(size); }
void* operator new[](std::size_t size) { return bench::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return bench::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return bench::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t a) { return bench::AllocateAligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return bench::AllocateAligned(size, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
