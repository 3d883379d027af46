// Ctrl-C during an upload. Stopping an upload part-way leaves the instrument
// in its boot loader without working firmware, so while one runs the first
// interrupt only warns and the second stops it between packets (the terminal
// dialogs decide, cli/terminal_dialogs.h). Before and after an upload the
// system's default stands: one interrupt ends the program at once.
//
// The handler does nothing but count on a lock-free atomic. A POSIX signal
// handler runs between any two instructions of the thread it interrupts,
// which may hold the C library's stream lock or the transport's locks, and a
// Windows console handler runs on a thread of its own while the upload goes
// on: printing, locking or touching the upload's state from there could
// deadlock or tear it. The upload polls the count on its own thread instead.
#pragma once

#include <atomic>

namespace cli {

namespace interrupt_detail {
inline std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);
}  // namespace interrupt_detail

// Installs the counting handler and sets the count to zero (true), or puts
// back what was there before (false).
void CatchInterrupts(bool catching);

// Interrupts counted since the handler was installed.
inline int CaughtInterrupts() { return interrupt_detail::caught.load(std::memory_order_acquire); }

// All the handler does; a test calls it to script an interrupt.
inline void CountInterrupt() { interrupt_detail::caught.fetch_add(1, std::memory_order_release); }

}  // namespace cli
