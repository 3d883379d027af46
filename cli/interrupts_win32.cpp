// Ctrl-C and Ctrl-Break counted while an upload runs (cli/interrupts.h says
// why it only counts). Windows runs the handler on a thread of its own;
// without it, the default handler ends the process at once.
#include <windows.h>

#include "cli/interrupts.h"

namespace cli {
namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  CountInterrupt();
  return TRUE;
}

}  // namespace

void CatchInterrupts(bool catching) {
  if (catching) interrupt_detail::caught.store(0, std::memory_order_release);
  SetConsoleCtrlHandler(OnConsoleControl, catching ? TRUE : FALSE);
}

}  // namespace cli
