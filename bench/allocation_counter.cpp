// Replaces the global operator new and delete with counting versions over
// malloc and free. Counting is off unless a count is open; the counters are
// atomics and a thread-local, so counting itself allocates nothing.
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

void* Allocate(std::size_t size, std::size_t align = 0) {
  if (g_counting.load(std::memory_order_relaxed)) {
    g_all.fetch_add(1, std::memory_order_relaxed);
    if (t_counting) ++t_count;
  }
  void* p = align == 0 ? std::malloc(size != 0 ? size : 1)
                       : std::aligned_alloc(align, size == 0 ? align : (size + align - 1) / align * align);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void BeginAllocationCount() {
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

}  // namespace bench

void* operator new(std::size_t size) { return bench::Allocate(size); }
void* operator new[](std::size_t size) { return bench::Allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return bench::Allocate(size, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return bench::Allocate(size, static_cast<std::size_t>(a)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return bench::Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
