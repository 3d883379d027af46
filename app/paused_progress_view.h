// For the simulated build only: the Win32 progress view, with a short real
// pause after each new status text. The paced clock runs much faster than
// real time; the pause lets the window paint every status (and so show it as
// its text) before the next one replaces it, so that a watcher in another
// process sees each of them. Virtual time does not move during the pause.
#pragma once

#include <cstdint>

#include "platform/progress_view.h"

class PausedProgressView final : public platform::ProgressView {
 public:
  PausedProgressView(platform::ProgressView& inner, std::uint32_t realPauseMs)
      : inner_(inner), realPauseMs_(realPauseMs) {}

  bool Start(progress::ProgressWindow& window) override { return inner_.Start(window); }
  void WaitReady(progress::ProgressWindow& window, std::uint32_t timeoutMs) override {
    inner_.WaitReady(window, timeoutMs);
  }
  void Repaint(progress::ProgressWindow& window, platform::ProgressChange change) override;
  bool Finish(progress::ProgressWindow& window, std::uint32_t timeoutMs) override {
    return inner_.Finish(window, timeoutMs);
  }
  void Release(progress::ProgressWindow& window) override { inner_.Release(window); }

 private:
  platform::ProgressView& inner_;
  const std::uint32_t realPauseMs_;
};
