// A clock that runs in virtual time. Sleep advances the time and, on the
// sleeping thread, runs every scheduled event that falls due within the sleep,
// in order of due time (and of scheduling, for equal times). After each event
// the settle hook runs: the simulated MIDI driver uses it to wait until the
// dispatcher thread has handled what the event delivered, so that every run of
// a scenario is identical to the millisecond however the threads are
// scheduled. A full upload takes virtual minutes and real milliseconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace sim {

class VirtualClock final : public platform::Clock {
 public:
  explicit VirtualClock(std::uint32_t start = 0);

  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t TickCount() override { return now_.load(std::memory_order_acquire); }

  // Runs `action` when virtual time reaches `due` (at once on the next Sleep
  // when `due` has passed). Actions that capture at most 16 trivially
  // copyable bytes are stored without a heap allocation.
  void Schedule(std::uint32_t due, std::function<void()> action);
  void ScheduleAfter(std::uint32_t delay, std::function<void()> action) {
    Schedule(TickCount() + delay, std::move(action));
  }
  // Set once, before the clock is used.
  void SetSettle(std::function<void()> settle);

  // Every Sleep call as (virtual time at its start, milliseconds), when
  // recording is on. Tests read pacing pauses from it.
  struct SleepRecord {
    std::uint32_t at;
    std::uint32_t ms;
  };
  void RecordSleeps(bool on);
  std::vector<SleepRecord> Sleeps() const;
  void ClearSleeps();
  std::size_t PendingEvents() const;

 private:
  struct Event {
    std::uint32_t due;
    std::uint64_t order;
    std::function<void()> action;
  };
  bool TakeDue(std::uint32_t until, Event& event);

  std::atomic<std::uint32_t> now_;
  mutable std::mutex mutex_;
  std::vector<Event> events_;  // a binary heap on (due, order)
  std::uint64_t nextOrder_ = 0;
  std::function<void()> settle_;
  bool recording_ = false;
  std::vector<SleepRecord> sleeps_;
};

}  // namespace sim
