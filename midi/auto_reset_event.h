// A small auto-reset event on a mutex and a condition variable: Signal sets
// it (waking one waiter), Wait returns once it is set and clears it again.
// Several signals before a wait collapse into one wake-up, which is what the
// dispatcher wants: one wake-up drains the whole queue.
#pragma once

#include <condition_variable>
#include <mutex>

namespace midi {

class AutoResetEvent {
 public:
  void Signal();
  void Wait();

 private:
  std::mutex mutex_;
  std::condition_variable signalledChanged_;
  bool signalled_ = false;
};

}  // namespace midi
