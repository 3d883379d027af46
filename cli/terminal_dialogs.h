// Message boxes as terminal prompts. The caption and the text are printed as
// the box would show them (CR LF as a line break); a box with a single OK
// button needs no answer; the others ask on the terminal, or with --yes take
// the answer that goes on: OK, Yes, and for "Retry or Cancel" Cancel, so that
// an unattended run ends instead of waiting for a silent instrument forever
// (the upload asks that only after a longer silence when unattended).
// At the end of the input every question is answered no (Cancel, No).
//
// They also take the user's interrupts (cli/interrupts.h). At a question
// before the upload one ends the run: nobody answered, and nothing more is
// sent. While an upload runs, at a question or between packets, the first
// warns on the error stream what a stop would leave (a question is then
// asked again), the second stops the upload. All of it goes to the
// transcript; an interrupt is never taken for an answer.
#pragma once

#include <cstdio>
#include <optional>

#include "platform/dialogs.h"
#include "session/transcript.h"

namespace cli {

class TerminalDialogs final : public platform::Dialogs {
 public:
  TerminalDialogs(std::FILE* in, std::FILE* out, std::FILE* err, bool assumeYes,
                  session::Transcript* transcript)
      : in_(in), out_(out), err_(err), assumeYes_(assumeYes), transcript_(transcript) {}

  int MessageBox(platform::WindowHandle owner, const char* text, const char* caption,
                 std::uint32_t flags) override;
  void EnableWindow(platform::WindowHandle, bool) override {}
  bool EscapeHeld() override { return false; }
  void DiscardQueuedInput() override {}
  bool Unattended() override { return assumeYes_; }
  void UploadRunning(bool running) override;
  bool StopRequested() override;
  // True when an interrupt at a question ended the run before the upload
  // (StopRequested is then true as well).
  bool EndedBeforeUpload() const { return endedBeforeUpload_; }

  // Called before a box is printed, so that a progress line drawn in place
  // can end first.
  void SetBeforeBox(void (*hook)(void*), void* context) {
    beforeBox_ = hook;
    beforeBoxContext_ = context;
  }

 private:
  // The answer; none when an interrupt ended the question.
  std::optional<int> Ask(std::uint32_t buttons);

  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  bool assumeYes_;
  session::Transcript* transcript_;
  void (*beforeBox_)(void*) = nullptr;
  void* beforeBoxContext_ = nullptr;
  bool uploadRunning_ = false;
  bool warned_ = false;
  bool stopped_ = false;
  bool endedBeforeUpload_ = false;
};

}  // namespace cli
