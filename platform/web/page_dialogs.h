// The dialogs seam in the page. Every message box becomes a modal in the
// page with the same caption, text and buttons, the same default button and
// Escape for Cancel or No; the engine stays suspended until the page answers
// (an asynchronous import, Module.kfPage.askBox). The progress modal covers
// the page while a progress window is open, so there is no owner to disable
// and no input queued up behind it to discard. The page tells the engine when
// Escape is held (the boot-loader check ends its wait on it, as the Windows
// program's does); it is told when an upload runs, so that it warns before
// it is closed and keeps the screen awake. Nobody stops an upload from the
// page, as nobody does from the Windows program.
#pragma once

#include <functional>

#include "platform/dialogs.h"

namespace web {

class PageDialogs final : public platform::Dialogs {
 public:
  // Called with each box and its answer (the transcript's BOX line).
  using Answered = std::function<void(const char* caption, const char* text, int answer)>;
  void SetAnswered(Answered answered) { answered_ = std::move(answered); }
  void SetEscapeHeld(bool held) { escapeHeld_ = held; }

  int MessageBox(platform::WindowHandle owner, const char* text, const char* caption,
                 std::uint32_t flags) override;
  void EnableWindow(platform::WindowHandle, bool) override {}
  bool EscapeHeld() override { return escapeHeld_; }
  void DiscardQueuedInput() override {}
  void UploadRunning(bool running) override;

 private:
  Answered answered_;
  bool escapeHeld_ = false;
};

}  // namespace web
