// The lock and the wake-up that a MIDI driver's callback uses to hand a
// finished buffer to the dispatcher. Windows allows a MIDI callback only a few
// system calls (EnterCriticalSection, LeaveCriticalSection and SetEvent among
// them); under mingw-w64 the C++ library's mutex creates an event when it is
// contended (CreateEventA) and its condition variable releases a semaphore,
// neither of which is among them. So on Windows these two are a critical
// section and an auto-reset event (platform/win32/callback_sync_win32.cpp);
// elsewhere they are the C++ library's own (platform/callback_sync_std.cpp).
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// A non-recursive lock (BasicLockable, for std::lock_guard and
// std::unique_lock).
class CallbackLock {
 public:
  CallbackLock();
  ~CallbackLock();
  CallbackLock(const CallbackLock&) = delete;
  CallbackLock& operator=(const CallbackLock&) = delete;
  void lock();
  void unlock();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// An auto-reset event: Signal sets it, waking one waiter; Wait returns once
// it is set and clears it again. Several signals before a wait collapse into
// one wake-up, which is what the dispatcher wants: one wake-up drains the
// whole queue.
class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;
  void Signal();
  void Wait();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
