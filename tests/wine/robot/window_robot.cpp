#include "tests/wine/robot/window_robot.h"

#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <utility>

namespace robot {
namespace {

constexpr DWORD MessageTimeoutMs = 2000;
constexpr DWORD PollIntervalMs = 50;
constexpr DWORD SettleMs = 500;  // for the X server to show what was painted
constexpr int TextCapacity = 512;
constexpr int MessageBoxTextId = 0xFFFF;  // the static control holding a box's text

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

// Memory in another process, released when it goes.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, SIZE_T size)
      : process_(process),
        address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  ~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  char* Address() const { return static_cast<char*>(address_); }
  bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
    return WriteProcessMemory(process_, Address() + offset, data, size, nullptr);
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) const {
    return ReadProcessMemory(process_, Address() + offset, data, size, nullptr);
  }

 private:
  HANDLE process_;
  void* address_;
};

}  // namespace

std::optional<Program> Program::Start(const std::string& commandLine, bool suspended) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE,
                      suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &info))
    return std::nullopt;
  return Program(info);
}

Program::Program(Program&& other) noexcept : info_(std::exchange(other.info_, {})) {}

Program::~Program() {
  // A scenario that failed half-way leaves nothing running behind it.
  if (info_.hProcess != nullptr && Running()) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  if (info_.hThread != nullptr) CloseHandle(info_.hThread);
  if (info_.hProcess != nullptr) CloseHandle(info_.hProcess);
}

std::optional<DWORD> Program::WaitForExit(DWORD timeoutMs) const {
  if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(info_.hProcess, &code)) return std::nullopt;
  return code;
}

bool Program::Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

std::string WindowText(HWND window) {
  // WM_GETTEXT is marshalled between processes; the wide form gives the
  // text unchanged whatever the target's character set.
  wchar_t text[TextCapacity] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, TextCapacity, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, MessageTimeoutMs, &copied))
    return {};
  text[TextCapacity - 1] = 0;
  return Narrow(text);
}

std::string ClassName(HWND window) {
  wchar_t name[TextCapacity] = {};
  GetClassNameW(window, name, TextCapacity);
  return Narrow(name);
}

bool Visible(HWND window) { return IsWindowVisible(window) != FALSE; }

int ControlId(HWND window) { return GetDlgCtrlID(window); }

std::vector<HWND> TopLevelWindows(DWORD processId) {
  struct Search {
    DWORD processId;
    std::vector<HWND> found;
  } search{processId, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->processId) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(
      parent,
      [](HWND window, LPARAM context) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND FindDescendant(HWND parent, const std::string& className,
                    const std::optional<std::string>& text) {
  for (HWND window : Descendants(parent)) {
    if (lstrcmpiA(ClassName(window).c_str(), className.c_str()) != 0) continue;
    if (text && WindowText(window) != *text) continue;
    return window;
  }
  return nullptr;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(PollIntervalMs);
  }
}

HWND WaitForTopLevelWindow(DWORD processId, const std::function<bool(HWND)>& match,
                           DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelWindows(processId)) {
          if (Visible(window) && match(window)) {
            found = window;
            return true;
          }
        }
        return false;
      },
      timeoutMs);
  return found;
}

void WaitForIdle(const Program& program) {
  WaitForInputIdle(program.Handle(), MessageTimeoutMs);
  Sleep(SettleMs);
}

std::vector<std::string> TabTexts(HWND tabControl, const Program& owner) {
  std::vector<std::string> texts;
  const LRESULT count = SendMessageW(tabControl, TCM_GETITEMCOUNT, 0, 0);
  // The item and its text buffer live in the owner's address space, since the
  // control writes through the pointers it is given.
  constexpr int TabTextCapacity = 256;
  const SIZE_T textOffset = sizeof(TCITEMW);
  RemoteBuffer remote(owner.Handle(), textOffset + TabTextCapacity * sizeof(wchar_t));
  if (remote.Address() == nullptr) return texts;
  for (LRESULT index = 0; index < count; ++index) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = reinterpret_cast<wchar_t*>(remote.Address() + textOffset);
    item.cchTextMax = TabTextCapacity;
    const wchar_t empty = 0;
    remote.Write(textOffset, &empty, sizeof empty);
    wchar_t text[TabTextCapacity] = {};
    if (!remote.Write(0, &item, sizeof item) ||
        !SendMessageW(tabControl, TCM_GETITEMW, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(remote.Address())))
      break;
    // The control may point pszText at its own copy instead of filling ours.
    TCITEMW answered = {};
    remote.Read(0, &answered, sizeof answered);
    if (answered.pszText != item.pszText) {
      ReadProcessMemory(owner.Handle(), answered.pszText, text, sizeof text - sizeof(wchar_t),
                        nullptr);
    } else {
      remote.Read(textOffset, text, sizeof text - sizeof(wchar_t));
    }
    text[TabTextCapacity - 1] = 0;
    texts.push_back(Narrow(text));
  }
  return texts;
}

void Click(HWND button) {
  // Posted: a sent click would not return before the window it opens closes.
  PostMessageW(button, BM_CLICK, 0, 0);
}

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
  return WaitForTopLevelWindow(
      processId,
      [](HWND window) {
        return ClassName(window) == "#32770" && GetDlgItem(window, MessageBoxTextId) != nullptr;
      },
      timeoutMs);
}

MessageBoxContent ReadMessageBox(HWND box) {
  MessageBoxContent content;
  content.caption = WindowText(box);
  if (HWND text = GetDlgItem(box, MessageBoxTextId)) content.text = WindowText(text);
  content.owner = GetWindow(box, GW_OWNER);
  for (HWND child : Descendants(box)) {
    if (ClassName(child) == "Button" && Visible(child))
      content.buttons.emplace_back(ControlId(child), WindowText(child));
  }
  return content;
}

bool AnswerMessageBox(HWND box, int buttonId) {
  HWND button = GetDlgItem(box, buttonId);
  if (button == nullptr || !Visible(button)) return false;
  Click(button);
  return true;
}

bool Screenshot(const std::string& name) {
  std::printf("SCREENSHOT %s\n", name.c_str());
  std::fflush(stdout);
  char answer[64] = {};
  return std::fgets(answer, sizeof answer, stdin) != nullptr;
}

bool Checks::Expect(bool ok, const std::string& what) {
  ++count_;
  if (!ok) ++failures_;
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
  return ok;
}

bool Checks::ExpectEqual(const std::string& actual, const std::string& expected,
                         const std::string& what) {
  return Expect(actual == expected, what + " is \"" + actual + "\"" +
                                        (actual == expected ? "" : ", expected \"" + expected + "\""));
}

void Checks::Note(const std::string& text) {
  std::printf("NOTE: %s\n", text.c_str());
  std::fflush(stdout);
}

}  // namespace robot
