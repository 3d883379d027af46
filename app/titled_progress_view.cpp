#include "app/titled_progress_view.h"

#include <windows.h>

#include "progress/progress_window_record.h"

namespace {

// The window thread answers at once unless it is stuck; a stuck one must not
// hold the upload up for long.
constexpr UINT SetTitleTimeoutMs = 500;

}  // namespace

void TitledProgressView::Repaint(progress::ProgressWindow& window,
                                 platform::ProgressChange change) {
  inner_.Repaint(window, change);
  if (change != platform::ProgressChange::Text) return;
  const auto hwnd = static_cast<HWND>(window.window.load());
  if (hwnd == nullptr) return;
  char status[progress::ProgressStatusSize];
  progress::ReadProgressStatus(window, status);
  DWORD_PTR ignored = 0;
  // The window belongs to its own thread: WM_SETTEXT is sent there.
  SendMessageTimeoutA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(status),
                      SMTO_ABORTIFHUNG | SMTO_BLOCK, SetTitleTimeoutMs, &ignored);
  if (realPauseMs_ > 0) ::Sleep(realPauseMs_);
}
