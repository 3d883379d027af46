// Ctrl-C (and Ctrl-Break on Windows) while the flash command waits for the
// user or uploads. Stopping an upload part-way leaves the instrument in its
// boot loader without working firmware, so while one runs the first
// interrupt only warns and the second stops it between packets (the terminal
// dialogs decide, cli/terminal_dialogs.h). Before the upload an interrupt at
// a question ends the run; anywhere else outside the upload the system's
// default stands: one interrupt ends the program at once.
//
// The handler does nothing but count on a lock-free atomic and wake a
// question's wait. A POSIX signal handler runs between any two instructions
// of the thread it interrupts, which may hold the C library's stream lock or
// the transport's locks, and a Windows console handler runs on a thread of
// its own while the upload goes on: printing, locking or touching the
// upload's state from there could deadlock or tear it. The upload polls the
// count on its own thread instead.
//
// A question must not wait for a line while an interrupt is pending: with
// SA_RESTART the read goes on after the handler, Wine goes on reading the
// console too, and Windows itself ends the read as if the input had ended,
// which would be taken for an answer. So a question reads through
// ReadAnswerLine, which the handler wakes.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

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

// All the handler does: counts, and wakes a question that waits. A test
// calls it to script an interrupt.
void CountInterrupt();

enum class AnswerRead { Line, EndOfInput, Interrupted };

// Reads the answer to a question from `in` up to its line feed, which is not
// kept, and nothing beyond it, so that the next question reads the next line.
// Ends with Interrupted as soon as the count is no longer `seen`, whatever the
// read was doing. At the end of the input `line` holds what came before it.
AnswerRead ReadAnswerLine(std::FILE* in, std::string& line, int seen);

}  // namespace cli
