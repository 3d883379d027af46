// SIGINT counted while an upload runs (cli/interrupts.h says why it only
// counts). SA_RESTART: a sleep or a prompt's read goes on after the count.
#include <csignal>

#include "cli/interrupts.h"

namespace cli {
namespace {

struct sigaction previous {};

void OnInterrupt(int) { CountInterrupt(); }

}  // namespace

void CatchInterrupts(bool catching) {
  if (!catching) {
    sigaction(SIGINT, &previous, nullptr);
    return;
  }
  interrupt_detail::caught.store(0, std::memory_order_release);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &previous);
}

}  // namespace cli
