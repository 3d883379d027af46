// More of the test robot: the contents of combo boxes and list views in
// another process, double-clicks on list items, and a watcher that follows
// the program's progress windows and the status texts they show.
#pragma once

#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "tests/wine/robot/window_robot.h"

namespace robot {

struct ComboLine {
  std::string text;
  LRESULT data = 0;  // the line's item data
};
// Every line of a combo box, in list order.
std::vector<ComboLine> ComboLines(HWND combo);
LRESULT ComboSelection(HWND combo);

struct ListItem {
  std::string text;
  int image = -1;
};
// Every item of a list view in another process, with the text and image its
// owner supplies for it (the request and its text buffer live in that
// process, since the control writes through the pointers it is given).
std::vector<ListItem> ListItems(HWND listView, const Program& owner);
// Double-clicks item `index` the way the mouse does (button messages at the
// item's centre); false when its rectangle cannot be had.
bool DoubleClickItem(HWND listView, const Program& owner, int index);
// Double-clicks the list view's client point (x, y).
void DoubleClickAt(HWND listView, int x, int y);

// A window's text as the system keeps it, read without sending the window a
// message: it answers at once even while the window's thread is busy (the
// user-interface thread during MIDI start, a scan or an upload).
std::string StoredWindowText(HWND window);

// The status texts of the program's progress windows ("SplashScreen"), as
// the simulated build shows them in the window titles. Poll() notes every
// window that has been shown and every change of its text.
class ProgressWatcher {
 public:
  struct Window {
    HWND handle = nullptr;
    std::vector<std::string> texts;  // changes in order, leading empty texts left out
  };
  explicit ProgressWatcher(DWORD processId) : processId_(processId) {}
  void Poll();
  const std::vector<Window>& Windows() const { return windows_; }
  // Texts of the window that showed `text`; empty when none did.
  std::vector<std::string> TextsOfWindowShowing(const std::string& text) const;
  bool AnyOpen() const;

 private:
  DWORD processId_;
  std::vector<Window> windows_;
};

// Like WaitUntil, but polls every 10 ms and lets the watcher look each time.
bool WaitWatching(ProgressWatcher& watcher, const std::function<bool()>& condition,
                  DWORD timeoutMs);

// Waits for a message box and checks it is the one expected: caption, text
// and the button ids in order; and whether it has an owner. Returns the box,
// or none when none came.
HWND ExpectMessageBox(Checks& checks, DWORD processId, const std::string& caption,
                      const std::string& text, const std::vector<int>& buttons, HWND owner,
                      DWORD timeoutMs);

// Presses the box's button and waits until the box has gone.
bool AnswerAndWaitGone(HWND box, int buttonId, DWORD timeoutMs);

std::string Joined(const std::vector<std::string>& texts);

}  // namespace robot
