// The GUI robot's hands and eyes: it starts the program under test, finds its
// windows, reads their texts (also out of controls whose messages Wine does
// not marshal between processes), presses buttons, watches the progress
// windows and asks the driving script for screenshots. The checks are
// GoogleTest's; these are only the helpers they use.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace robot {

inline constexpr DWORD StartTimeoutMs = 30000;  // the first program on a new desktop is slow
inline constexpr DWORD BoxTimeoutMs = 10000;
inline constexpr DWORD ExitTimeoutMs = 10000;

// The program the robot drives (a Windows path from its command line), once
// started; ended if it still runs when this goes.
class Program {
 public:
  // The program under test, with `arguments` after its quoted path.
  static Program Start(const std::string& arguments = "");
  Program(const Program&) = delete;  // returned by value all the same: C++17 elides the copy
  ~Program();
  bool Started() const { return info_.hProcess != nullptr; }
  DWORD Id() const { return info_.dwProcessId; }
  HANDLE Handle() const { return info_.hProcess; }
  // The exit code once it has ended within `timeoutMs`.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = ExitTimeoutMs) const;

 private:
  explicit Program(const PROCESS_INFORMATION& info) : info_(info) {}
  PROCESS_INFORMATION info_ = {};
};

std::string Text(HWND window);        // WM_GETTEXT, marshalled between processes
std::string StoredText(HWND window);  // without a message: answers while the owner is busy
std::string ClassOf(HWND window);
std::vector<HWND> TopLevelWindows(DWORD processId);
// The sheet's own button with that text (OK, Cancel).
inline HWND SheetButton(HWND sheet, const wchar_t* text) { return FindWindowExW(sheet, nullptr, L"Button", text); }

// Polls `condition` until it holds or `timeoutMs` has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// A visible top-level window of the process that `match` accepts, within `timeoutMs`.
HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs);
// Waits until the program waits for input, then lets the display catch up.
void Settle(const Program& program);

// The programs under test carry the development image, and their title says so.
inline const std::string SheetCaption = "Kelmora Flasher (development image)";
// The sheet, found by its caption without waiting for its busy thread.
HWND WaitForSheet(const Program& program);
// The visible page dialog of the sheet with that caption, or none.
HWND Page(HWND sheet, const wchar_t* caption);
// Selects tab `index` and waits for its page.
HWND ShowPage(HWND sheet, int index, const wchar_t* caption);

// A message box as the user sees it.
struct Box {
  HWND handle = nullptr;
  std::string caption;
  std::string text;
  std::vector<int> buttons;  // visible ones, by id, sorted
  HWND owner = nullptr;
};
std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs = BoxTimeoutMs);
// Checks that a box came and is the one expected; `buttons` sorted.
void ExpectBox(const std::optional<Box>& box, const std::string& caption, const std::string& text,
               const std::vector<int>& buttons, HWND owner);
// Presses the box's button and waits until the box has gone.
bool Answer(const Box& box, int buttonId);

// Presses a button without waiting for what the press opens.
void Click(HWND button);

std::vector<std::string> TabTexts(HWND tabControl, const Program& owner);
// A combo box's line: its text and item data.
using ComboLine = std::pair<std::string, LRESULT>;
std::vector<ComboLine> ComboLines(HWND combo);
// A list view's item: its text and image, as its owner supplies them.
using ListItem = std::pair<std::string, int>;
std::vector<ListItem> ListItems(HWND listView, const Program& owner);
// Double-clicks item `index` as the mouse does, at the item's centre.
bool DoubleClickItem(HWND listView, const Program& owner, int index);

// The program's progress windows and the status texts each has shown (its
// window text), in order. Poll() looks once.
class ProgressWatcher {
 public:
  explicit ProgressWatcher(DWORD processId) : processId_(processId) {}
  void Poll();
  std::size_t Count() const { return windows_.size(); }
  const std::vector<std::string>& Texts(std::size_t window) const { return windows_[window].texts; }
  bool AnyOpen() const;
  // Like WaitUntil, looking every few milliseconds.
  bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

 private:
  struct Window {
    HWND handle;
    std::vector<std::string> texts;
  };
  DWORD processId_;
  std::vector<Window> windows_;
};

// Asks the driving script to photograph the screen as `name` and waits until it has.
void Screenshot(const std::string& name);

}  // namespace robot
