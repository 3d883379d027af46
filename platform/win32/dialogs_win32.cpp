// User dialogs on user32: modal message boxes, enabling an owner window, the
// Escape key's state at this moment, and dropping the input that queued up
// while the user-interface thread was busy (up to and including the first
// paint message, which marks where the busy stretch ended).
#include <windows.h>
// windows.h maps MessageBox to MessageBoxA; the seam's method keeps its name.
#undef MessageBox

#include "platform/win32/dialogs_win32.h"

namespace win32 {
namespace {
constexpr SHORT KeyDownBit = static_cast<SHORT>(0x8000);
}

int Win32Dialogs::MessageBox(platform::WindowHandle owner, const char* text, const char* caption,
                             std::uint32_t flags) {
  return ::MessageBoxA(static_cast<HWND>(owner), text, caption, flags);
}

void Win32Dialogs::EnableWindow(platform::WindowHandle window, bool enable) {
  ::EnableWindow(static_cast<HWND>(window), enable ? TRUE : FALSE);
}

bool Win32Dialogs::EscapeHeld() { return (::GetAsyncKeyState(VK_ESCAPE) & KeyDownBit) != 0; }

void Win32Dialogs::DiscardQueuedInput() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_PAINT) break;
  }
}

}  // namespace win32
