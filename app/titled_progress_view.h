// For the simulated build only: the Win32 progress view, plus the status
// line's text as the window's title. The window has no caption bar, so the
// title is not drawn; it lets a test robot in another process read the status
// that is painted (WM_GETTEXT), which it could not read otherwise. Each new
// status text also stays up for a short real pause, so that a watcher sees
// every one of them even when the paced clock runs much faster than real
// time. Virtual time does not move during the pause.
#pragma once

#include <cstdint>

#include "platform/progress_view.h"

class TitledProgressView final : public platform::ProgressView {
 public:
  TitledProgressView(platform::ProgressView& inner, std::uint32_t realPauseMs)
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
