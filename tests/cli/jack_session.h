// A private JACK server with the dummy back end and `kelmora-flash emulate`
// on it, for the JACK test and the real-time benchmark. Child processes are
// ended by their ids only; every wait is bounded.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/cli/cli_run.h"

namespace cli_test {

using SteadyClock = std::chrono::steady_clock;

// A child process with its output in a file and an empty input.
class Child {
 public:
  Child(std::vector<std::string> argv, const std::string& log) : log_(log) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      dup2(open("/dev/null", O_RDONLY), 0);
      std::vector<char*> args;
      for (auto& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() { Kill(SIGKILL, std::chrono::milliseconds(0)); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit code once the child has ended within `limit`, else -1.
  int Wait(std::chrono::milliseconds limit) {
    if (ended_ || pid_ <= 0) return code_;
    const auto until = SteadyClock::now() + limit;
    do {
      int status = 0;
      if (wait4(pid_, &status, WNOHANG, &usage_) == pid_) {
        ended_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return code_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (SteadyClock::now() < until);
    return -1;
  }
  // Sends `signal`, waits up to `limit` for the end, then SIGKILL.
  int Kill(int signal, std::chrono::milliseconds limit) {
    if (pid_ <= 0 || ended_) return code_;
    kill(pid_, signal);
    if (Wait(limit) >= 0) return code_;
    kill(pid_, SIGKILL);
    return Wait(std::chrono::milliseconds(5000));
  }
  bool Ended() { return Wait(std::chrono::milliseconds(0)) >= 0; }
  pid_t Pid() const { return pid_; }
  // Waits up to `limit` until the output holds `text`; false when it ended first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto until = SteadyClock::now() + limit;
    while (Output().find(text) == std::string::npos) {
      if (Ended() || SteadyClock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  std::string Output() const { return ReadAll(log_); }
  // User and system CPU seconds of the ended child.
  double CpuSeconds() const {
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return s(usage_.ru_utime) + s(usage_.ru_stime);
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int code_ = -1;
  rusage usage_{};
};

// A server and the emulator on it. Both are ended gently when it goes (the
// emulator by SIGINT, the server by SIGTERM): a JACK server that is killed
// outright leaves its entry in the machine's server registry, which holds
// eight, and the entry is taken back only by a server of the same name.
struct JackSession {
  std::unique_ptr<Child> jackd;
  std::unique_ptr<Child> emulator;
  std::string failure;  // why it could not start; empty when it runs

  JackSession() = default;
  JackSession(JackSession&&) = default;
  ~JackSession() { Stop(); }
  void Stop() {
    if (emulator) emulator->Kill(SIGINT, std::chrono::seconds(10));
    if (jackd) jackd->Kill(SIGTERM, std::chrono::seconds(10));
  }
};

// Server names come from a small fixed set, so that a name left behind by a
// crashed run is used again (and its registry entry reclaimed) by the next.
inline constexpr int JackServerNames = 6;

// Starts a server under the first free name and the emulator on it; the
// environment is set so that every child finds this server.
inline JackSession StartJackSession(const std::string& flashExe, const std::string& dir,
                                    std::vector<std::string> emulatorOptions = {}) {
  JackSession s;
  if (std::system("command -v jackd >/dev/null 2>&1") != 0) {
    s.failure = "jackd is not installed";
    return s;
  }
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  // A name another run holds makes jackd end at once: try the next one.
  for (int slot = 0; slot < JackServerNames; ++slot) {
    const std::string server = "kelmora-test-" + std::to_string(slot);
    s.jackd = std::make_unique<Child>(
        std::vector<std::string>{"jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r", "48000", "-p", "512"},
        dir + "jackd.log");
    if (s.jackd->Wait(std::chrono::milliseconds(700)) < 0) {
      setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
      break;
    }
    if (slot + 1 == JackServerNames) {
      s.failure = "jackd could not start:\n" + s.jackd->Output();
      return s;
    }
  }
  std::vector<std::string> emulate = {flashExe, "--api", "jack"};
  emulate.insert(emulate.end(), emulatorOptions.begin(), emulatorOptions.end());
  emulate.push_back("emulate");
  // The emulator fails at once while the server does not take clients yet.
  const auto serverDeadline = SteadyClock::now() + std::chrono::seconds(20);
  for (;;) {
    if (s.jackd->Ended()) {
      s.failure = "jackd ended:\n" + s.jackd->Output();
      return s;
    }
    s.emulator = std::make_unique<Child>(emulate, dir + "emulator.log");
    if (s.emulator->WaitForOutput("emulating a Tarvonic", std::chrono::seconds(10))) return s;
    s.emulator->Kill(SIGKILL, std::chrono::milliseconds(0));
    if (SteadyClock::now() > serverDeadline) {
      s.failure = "jackd did not take clients within 20 s:\n" + s.jackd->Output();
      return s;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
}

}  // namespace cli_test
