// The progress-view seam: what draws a ProgressWindow record and runs its
// window thread. The record and its four operations (progress/progress_window.cpp)
// are portable; the Win32 view gives each window a thread with its own message
// loop, and the simulated view records what a window would have shown.
//
// Life of a record across the seam: the open gives the record two references,
// one for the caller and one for the window thread. Start hands the thread's
// reference to the view; the view gives it back with
// ReleaseProgressWindowRecord when the thread has ended, however late that is.
// Whoever releases last calls Release and frees the record, so a record is
// never freed while its window thread can still use it.
#pragma once

#include <cstdint>

namespace progress {
struct ProgressWindow;  // progress/progress_window_record.h
}

namespace platform {

// What a repaint request follows; the Win32 view repaints the same way for
// both, the recording view logs them apart.
enum class ProgressChange { Text, Position };

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // Starts the window's thread, which takes over one reference to the record.
  // False when no thread could be started: the reference was not taken.
  virtual bool Start(progress::ProgressWindow& window) = 0;
  // Waits until the window is shown or its creation failed, at most timeoutMs.
  virtual void WaitReady(progress::ProgressWindow& window, std::uint32_t timeoutMs) = 0;
  // Asks for a repaint without erasing; never blocks.
  virtual void Repaint(progress::ProgressWindow& window, ProgressChange change) = 0;
  // Asks the window to close and waits at most timeoutMs for its thread to
  // end. True when the thread has ended.
  virtual bool Finish(progress::ProgressWindow& window, std::uint32_t timeoutMs) = 0;
  // Frees what the view keeps in the record (thread and event handles). Runs
  // once, on whichever thread drops the last reference, right before the
  // record is freed.
  virtual void Release(progress::ProgressWindow& window) = 0;
};

}  // namespace platform
