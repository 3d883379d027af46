// SIGINT counted while a question waits or an upload runs (cli/interrupts.h
// says why it only counts). SA_RESTART: a sleep or a write goes on after the
// count. A question's wait is woken through a pipe instead: the handler
// writes a byte into it (write is async-signal-safe, whichever thread the
// signal lands on), and the question polls the pipe beside its input, so an
// interrupt that comes just before the wait begins still ends it.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "cli/interrupts.h"

namespace cli {
namespace {

struct sigaction previous {};
// Made once, on the first install, and kept to the end of the process. Both
// ends never block: the handler must not wait for a full pipe, and a
// question drains it before it looks at the count again.
int wakeRead = -1;
int wakeWrite = -1;

void OnInterrupt(int) {
  const int saved = errno;  // the interrupted code may be about to read it
  CountInterrupt();
  errno = saved;
}

void DrainWakePipe() {
  char bytes[64];
  while (read(wakeRead, bytes, sizeof bytes) > 0) {
  }
}

}  // namespace

void CountInterrupt() {
  interrupt_detail::caught.fetch_add(1, std::memory_order_release);
  if (wakeWrite >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(wakeWrite, &byte, 1);  // full: a wake-up is pending anyway
  }
}

void CatchInterrupts(bool catching) {
  if (!catching) {
    sigaction(SIGINT, &previous, nullptr);
    return;
  }
  if (wakeRead < 0) {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
      wakeRead = ends[0];
      wakeWrite = ends[1];
    }
  }
  interrupt_detail::caught.store(0, std::memory_order_release);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &previous);
}

AnswerRead ReadAnswerLine(std::FILE* in, std::string& line, int seen) {
  line.clear();
  const int input = fileno(in);
  for (;;) {
    if (wakeRead >= 0) DrainWakePipe();
    if (CaughtInterrupts() != seen) return AnswerRead::Interrupted;
    pollfd waits[2] = {{input, POLLIN, 0}, {wakeRead, POLLIN, 0}};
    if (poll(waits, wakeRead >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      return AnswerRead::EndOfInput;
    }
    // A wake-up first: the input waits for the next question, whole.
    if (waits[1].revents != 0 || waits[0].revents == 0) continue;
    char c = 0;
    const ssize_t n = read(input, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return AnswerRead::EndOfInput;
    if (c == '\n') return AnswerRead::Line;
    line.push_back(c);
  }
}

}  // namespace cli
