// The user-dialog seam on user32.
#pragma once

#include "platform/dialogs.h"

namespace win32 {

class Win32Dialogs final : public platform::Dialogs {
 public:
  int MessageBox(platform::WindowHandle owner, const char* text, const char* caption,
                 std::uint32_t flags) override;
  void EnableWindow(platform::WindowHandle window, bool enable) override;
  bool EscapeHeld() override;
  void DiscardQueuedInput() override;
};

}  // namespace win32
