#include "platform/sim/virtual_clock.h"

#include <algorithm>

namespace sim {
namespace {

// Heap order: the earliest due time on top; equal times in scheduling order.
// Due times are compared as signed distances so that a wrap of the 32-bit
// counter keeps the order.
struct Later {
  template <typename E>
  bool operator()(const E& a, const E& b) const {
    const auto d = platform::TickDiff(a.due, b.due);
    return d != 0 ? d > 0 : a.order > b.order;
  }
};

}  // namespace

VirtualClock::VirtualClock(std::uint32_t start) : now_(start) { events_.reserve(256); }

void VirtualClock::Schedule(std::uint32_t due, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  // Nothing runs in the past: an event due earlier runs at the current time.
  if (platform::TickDiff(due, now_.load(std::memory_order_relaxed)) < 0) due = now_;
  events_.push_back(Event{due, nextOrder_++, std::move(action)});
  std::push_heap(events_.begin(), events_.end(), Later{});
}

void VirtualClock::SetSettle(std::function<void()> settle) {
  std::lock_guard lock(mutex_);
  settle_ = std::move(settle);
}

bool VirtualClock::TakeDue(std::uint32_t until, Event& event) {
  std::lock_guard lock(mutex_);
  if (events_.empty() || platform::TickDiff(events_.front().due, until) > 0) return false;
  std::pop_heap(events_.begin(), events_.end(), Later{});
  event = std::move(events_.back());
  events_.pop_back();
  return true;
}

void VirtualClock::Sleep(std::uint32_t milliseconds) {
  const std::uint32_t start = now_.load(std::memory_order_relaxed);
  const std::uint32_t until = start + milliseconds;
  {
    std::lock_guard lock(mutex_);
    if (recording_) sleeps_.push_back({start, milliseconds});
  }
  Event event;
  while (TakeDue(until, event)) {
    now_.store(event.due, std::memory_order_release);
    event.action();
    if (settle_) settle_();
  }
  now_.store(until, std::memory_order_release);
}

void VirtualClock::RecordSleeps(bool on) {
  std::lock_guard lock(mutex_);
  recording_ = on;
  if (on) sleeps_.reserve(1 << 16);
}

std::vector<VirtualClock::SleepRecord> VirtualClock::Sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

void VirtualClock::ClearSleeps() {
  std::lock_guard lock(mutex_);
  sleeps_.clear();
}

std::size_t VirtualClock::PendingEvents() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}

}  // namespace sim
