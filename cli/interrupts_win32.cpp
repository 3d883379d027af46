// Ctrl-C and Ctrl-Break counted while a question waits or an upload runs
// (cli/interrupts.h says why it only counts). Windows runs the handler on a
// thread of its own; without it, the default handler ends the process at
// once.
//
// A question's line is read by a thread of its own, and the question waits
// for either that line or the handler's event. A read cannot be ended from
// outside without losing input: Wine goes on reading the console through a
// control event, and a read cancelled there takes the next key typed with
// it. So an interrupted question leaves its read running, and the next
// question takes the line it brings. Windows itself ends a console read on
// Ctrl-C with ERROR_OPERATION_ABORTED, as if nothing had been typed; the
// reader then simply reads again.
#include <windows.h>

#include <io.h>

#include <memory>
#include <system_error>
#include <thread>

#include "cli/interrupts.h"

namespace cli {
namespace {

// One line read from an input, up to its line feed or the input's end.
struct PendingLine {
  HANDLE input = nullptr;
  HANDLE done = nullptr;  // set by the reader when `line` and `result` are there
  std::string line;
  AnswerRead result = AnswerRead::EndOfInput;
  ~PendingLine() {
    if (done != nullptr) CloseHandle(done);
  }
};

// The read a question left running when an interrupt ended it; the
// questions' thread only.
std::shared_ptr<PendingLine> pending;

HANDLE InterruptEvent() {
  static const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  return event;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  CountInterrupt();
  return TRUE;
}

void ReadLine(const std::shared_ptr<PendingLine>& p) {
  for (;;) {
    char c = 0;
    DWORD n = 0;
    SetLastError(ERROR_SUCCESS);
    if (ReadFile(p->input, &c, 1, &n, nullptr) && n == 1) {
      if (c == '\n') {
        p->result = AnswerRead::Line;
        break;
      }
      if (c == '\x1a') break;  // Ctrl-Z: the console's end of input
      p->line.push_back(c);
    } else if (GetLastError() != ERROR_OPERATION_ABORTED) {
      break;  // the end of the input
    }
  }
  SetEvent(p->done);
}

}  // namespace

void CountInterrupt() {
  interrupt_detail::caught.fetch_add(1, std::memory_order_release);
  SetEvent(InterruptEvent());
}

void CatchInterrupts(bool catching) {
  if (catching) interrupt_detail::caught.store(0, std::memory_order_release);
  SetConsoleCtrlHandler(OnConsoleControl, catching ? TRUE : FALSE);
}

AnswerRead ReadAnswerLine(std::FILE* in, std::string& line, int seen) {
  line.clear();
  const auto input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in)));
  if (pending == nullptr || pending->input != input) {
    auto p = std::make_shared<PendingLine>();
    p->input = input;
    p->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    try {
      std::thread(ReadLine, p).detach();
    } catch (const std::system_error&) {
      return AnswerRead::EndOfInput;  // nothing can be read
    }
    pending = std::move(p);
  }
  const HANDLE waits[] = {pending->done, InterruptEvent()};
  while (CaughtInterrupts() == seen) {
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 1) continue;
    if (woken != WAIT_OBJECT_0) return AnswerRead::EndOfInput;
    line = std::move(pending->line);
    const AnswerRead result = pending->result;
    pending.reset();
    return result;
  }
  return AnswerRead::Interrupted;
}

}  // namespace cli
