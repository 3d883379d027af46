// The callback lock and wake-up on Windows: a critical section and an
// auto-reset event, the primitives a MIDI callback may use (see
// callback_sync.h). Built into kf_platform itself, since the transport that
// uses them sits on the seams alone.
#include <windows.h>

#include "platform/callback_sync.h"

namespace platform {

struct CallbackLock::State {
  CRITICAL_SECTION section;
};

CallbackLock::CallbackLock() : state_(std::make_unique<State>()) {
  InitializeCriticalSection(&state_->section);
}
CallbackLock::~CallbackLock() { DeleteCriticalSection(&state_->section); }
void CallbackLock::lock() { EnterCriticalSection(&state_->section); }
void CallbackLock::unlock() { LeaveCriticalSection(&state_->section); }

struct WakeEvent::State {
  HANDLE event;
};

// Auto-reset, initially clear. Made before any callback can run and never
// failing in practice; a missing event would make Wait return at once and
// the dispatcher spin instead of sleep, never lose a buffer.
WakeEvent::WakeEvent() : state_(std::make_unique<State>()) {
  state_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}
WakeEvent::~WakeEvent() {
  if (state_->event != nullptr) CloseHandle(state_->event);
}
void WakeEvent::Signal() { SetEvent(state_->event); }
void WakeEvent::Wait() { WaitForSingleObject(state_->event, INFINITE); }

}  // namespace platform
