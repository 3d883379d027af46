#include "midi/auto_reset_event.h"

namespace midi {

void AutoResetEvent::Signal() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  signalledChanged_.notify_one();
}

void AutoResetEvent::Wait() {
  std::unique_lock lock(mutex_);
  signalledChanged_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

}  // namespace midi
