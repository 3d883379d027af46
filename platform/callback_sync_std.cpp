// The callback lock and wake-up on the C++ library, for every platform but
// Windows (see callback_sync.h).
#include <condition_variable>
#include <mutex>

#include "platform/callback_sync.h"

namespace platform {

struct CallbackLock::State {
  std::mutex mutex;
};

CallbackLock::CallbackLock() : state_(std::make_unique<State>()) {}
CallbackLock::~CallbackLock() = default;
void CallbackLock::lock() { state_->mutex.lock(); }
void CallbackLock::unlock() { state_->mutex.unlock(); }

struct WakeEvent::State {
  std::mutex mutex;
  std::condition_variable signalledChanged;
  bool signalled = false;
};

WakeEvent::WakeEvent() : state_(std::make_unique<State>()) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Signal() {
  {
    std::lock_guard lock(state_->mutex);
    state_->signalled = true;
  }
  state_->signalledChanged.notify_one();
}

void WakeEvent::Wait() {
  std::unique_lock lock(state_->mutex);
  state_->signalledChanged.wait(lock, [this] { return state_->signalled; });
  state_->signalled = false;
}

}  // namespace platform
