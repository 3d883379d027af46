// A small Win32 test robot: it starts a program, finds its windows, reads
// their texts (also out of controls whose messages Wine does not marshal
// between processes), presses buttons and asks the driving script for
// screenshots. Scenarios are built from these helpers, one per robot run.
#pragma once

#include <windows.h>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace robot {

// A started program; ends it if it still runs and closes its handles when
// it goes.
class Program {
 public:
  // Starts `commandLine` (the program's path quoted, then any arguments).
  // A suspended program runs from Resume() on, so that a watcher can be
  // ready before its first window.
  static std::optional<Program> Start(const std::string& commandLine, bool suspended = false);
  void Resume() const { ResumeThread(info_.hThread); }
  Program(Program&& other) noexcept;
  Program& operator=(Program&&) = delete;
  ~Program();

  DWORD Id() const { return info_.dwProcessId; }
  HANDLE Handle() const { return info_.hProcess; }
  // The exit code once the program has ended within `timeoutMs`, else none.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs) const;
  bool Running() const;

 private:
  explicit Program(const PROCESS_INFORMATION& info) : info_(info) {}
  PROCESS_INFORMATION info_ = {};
};

std::string WindowText(HWND window);
std::string ClassName(HWND window);
bool Visible(HWND window);
int ControlId(HWND window);

// Top-level windows of a process, in z-order.
std::vector<HWND> TopLevelWindows(DWORD processId);
// Every window below `parent`, depth first.
std::vector<HWND> Descendants(HWND parent);
// The first descendant of `parent` with that class (case-insensitive) and,
// when `text` is given, that text; none when there is no such window.
HWND FindDescendant(HWND parent, const std::string& className,
                    const std::optional<std::string>& text = std::nullopt);

// Polls `condition` every 50 ms until it holds or `timeoutMs` has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// Waits for a visible top-level window of the process that `match` accepts.
HWND WaitForTopLevelWindow(DWORD processId, const std::function<bool(HWND)>& match,
                           DWORD timeoutMs);
// Waits until the process waits for input, then lets the display catch up.
void WaitForIdle(const Program& program);

// The tab titles of a tab control in another process, read with TCM_GETITEMW
// into a buffer allocated in that process.
std::vector<std::string> TabTexts(HWND tabControl, const Program& owner);

// Presses a button without waiting for what the press opens.
void Click(HWND button);

// A message box as the user sees it.
struct MessageBoxContent {
  std::string caption;
  std::string text;
  std::vector<std::pair<int, std::string>> buttons;  // visible ones: id and text
  HWND owner = nullptr;
};
// Waits for a visible message box of the process: a top-level dialog with the
// text control 0xFFFF that message boxes have.
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs);
MessageBoxContent ReadMessageBox(HWND box);
// Presses the box's button with that id (IDOK, IDYES, ...); false when it
// has none.
bool AnswerMessageBox(HWND box, int buttonId);

// Asks the driving script to photograph the screen as `name` and waits until
// it has.
bool Screenshot(const std::string& name);

// The scenario's verdicts, printed as they are made.
class Checks {
 public:
  // Records and prints one verdict; returns `ok`.
  bool Expect(bool ok, const std::string& what);
  bool ExpectEqual(const std::string& actual, const std::string& expected,
                   const std::string& what);
  void Note(const std::string& text);
  int Failures() const { return failures_; }
  int Count() const { return count_; }

 private:
  int failures_ = 0;
  int count_ = 0;
};

}  // namespace robot
