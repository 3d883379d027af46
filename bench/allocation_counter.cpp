// Replaces the global operator new and delete with counting versions over
// malloc and free (the library's other forms go through these two). Counting
// is off unless a count is open; the counters are atomics and a
// thread-local, so counting itself allocates nothing.
#include "bench/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {
namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_all{0};
thread_local bool t_counting = false;
thread_local std::uint64_t t_count = 0;

}  // namespace

void BeginAllocationCount() {
  t_count = 0;
  g_all.store(0);
  t_counting = true;
  g_counting.store(true);
}

AllocationCount EndAllocationCount() {
  g_counting.store(false);
  t_counting = false;
  return {t_count, g_all.load()};
}

}  // namespace bench

// Both forms the program uses; the sanitizers bring their own nothrow form,
// which would not pair with the delete here.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (bench::g_counting.load(std::memory_order_relaxed)) {
    bench::g_all.fetch_add(1, std::memory_order_relaxed);
    if (bench::t_counting) ++bench::t_count;
  }
  return std::malloc(size != 0 ? size : 1);
}
void* operator new(std::size_t size) {
  if (void* p = operator new(size, std::nothrow)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
