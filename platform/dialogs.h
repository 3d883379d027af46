// The user-dialog seam: what the portable layers need from the desktop.
// Win32: MessageBoxA, EnableWindow, GetAsyncKeyState. Simulation: a script of
// answers and a record of every box, for tests and the command line. The
// queries with a default here have the Windows program's answer.
#pragma once

#include <cstdint>

namespace platform {

using WindowHandle = void*;

// Message-box flags and results, with winmm/user32 values.
inline constexpr std::uint32_t BoxOk = 0x0;
inline constexpr std::uint32_t BoxOkCancel = 0x1;
inline constexpr std::uint32_t BoxYesNo = 0x4;
inline constexpr std::uint32_t BoxRetryCancel = 0x5;
inline constexpr std::uint32_t BoxDefButton2 = 0x100;
inline constexpr int IdOk = 1;
inline constexpr int IdCancel = 2;
inline constexpr int IdRetry = 4;
inline constexpr int IdYes = 6;
inline constexpr int IdNo = 7;

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows a modal message box and returns the pressed button's identifier.
  virtual int MessageBox(WindowHandle owner, const char* text, const char* caption,
                         std::uint32_t flags) = 0;
  // Enables or disables a window (the owner of a progress window).
  virtual void EnableWindow(WindowHandle window, bool enable) = 0;
  // True while the Escape key is held down at this moment.
  virtual bool EscapeHeld() = 0;
  // Discards the calling thread's queued input up to and including the first
  // paint message (what the user clicked while the program was busy).
  virtual void DiscardQueuedInput() = 0;
  // True when nobody is there to answer a box (the command line's --yes): the
  // upload then keeps trying a silent instrument for longer before it asks.
  // The Windows program always has its user.
  virtual bool Unattended() { return false; }
  // An upload runs between UploadRunning(true) and UploadRunning(false). A
  // front end whose user can ask it to stop (the command line's interrupt)
  // listens for that request only in between.
  virtual void UploadRunning(bool) {}
  // Asked by the running upload before every send and every step of a wait:
  // true once the user wants it stopped; it then sends nothing more. Stays
  // true after the upload, so that its caller can tell a stop from a failure.
  virtual bool StopRequested() { return false; }
};

}  // namespace platform
