// The pause after each new status text; see paused_progress_view.h.
#include "app/paused_progress_view.h"

#include <windows.h>

void PausedProgressView::Repaint(progress::ProgressWindow& window,
                                 platform::ProgressChange change) {
  inner_.Repaint(window, change);
  if (change == platform::ProgressChange::Text && realPauseMs_ > 0) ::Sleep(realPauseMs_);
}
