// kf-robot [GoogleTest options] PROGRAM: the robot's helpers and its entry.
// It drives PROGRAM (a Windows path) through the tests the filter selects and
// fails when the filter selects none.
#include "tests/wine/robot/robot.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <prsht.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <utility>

namespace robot {
namespace {

constexpr DWORD MessageTimeoutMs = 2000;
constexpr DWORD PollMs = 10;
constexpr DWORD SettleMs = 500;  // for the X server to show what was painted
constexpr int TextCapacity = 512;
constexpr int BoxTextId = 0xFFFF;  // the static control holding a message box's text

std::string programPath;

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

// Sends `message` with `item` placed in the owner's memory, followed by room
// for a text (the control writes through the pointers it is given), and
// reads the item and its text back. The control may point the item at a
// text of its own instead of filling the room.
template <typename Item>
bool SendRemote(HWND control, const Program& owner, UINT message, WPARAM wParam, Item& item,
                std::string* text = nullptr) {
  const HANDLE process = owner.Handle();
  const auto free = [process](void* at) { VirtualFreeEx(process, at, 0, MEM_RELEASE); };
  const std::unique_ptr<void, decltype(free)> memory(
      VirtualAllocEx(process, nullptr, sizeof item + TextCapacity * sizeof(wchar_t),
                     MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE),
      free);
  if (memory == nullptr) return false;
  auto* remoteItem = static_cast<char*>(memory.get());
  auto* remoteText = reinterpret_cast<wchar_t*>(remoteItem + sizeof item);
  if constexpr (requires { item.pszText; }) {
    item.pszText = remoteText;
    item.cchTextMax = TextCapacity;
    const wchar_t empty = 0;
    WriteProcessMemory(process, remoteText, &empty, sizeof empty, nullptr);
  }
  if (!WriteProcessMemory(process, remoteItem, &item, sizeof item, nullptr) ||
      !SendMessageW(control, message, wParam, reinterpret_cast<LPARAM>(remoteItem)) ||
      !ReadProcessMemory(process, remoteItem, &item, sizeof item, nullptr))
    return false;
  wchar_t read[TextCapacity] = {};
  if constexpr (requires { item.pszText; }) {
    if (item.pszText != nullptr) ReadProcessMemory(process, item.pszText, read, sizeof read - sizeof(wchar_t), nullptr);
  }
  if (text != nullptr) *text = Narrow(read);
  return true;
}

}  // namespace

Program Program::Start(const std::string& arguments) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string line = "\"" + programPath + "\"" + arguments;
  CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
  return Program(info);
}

Program::~Program() {
  // A test that failed half-way leaves nothing running behind it.
  if (info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  if (info_.hThread != nullptr) CloseHandle(info_.hThread);
  if (info_.hProcess != nullptr) CloseHandle(info_.hProcess);
}

std::optional<DWORD> Program::WaitForExit(DWORD timeoutMs) const {
  DWORD code = 0;
  const bool ended = WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
  return ended && GetExitCodeProcess(info_.hProcess, &code) ? std::optional(code) : std::nullopt;
}

std::string Text(HWND window) {
  // The wide form comes back unchanged whatever the owner's character set.
  wchar_t text[TextCapacity] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, TextCapacity - 1, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      MessageTimeoutMs, &copied);
  return Narrow(text);
}

std::string StoredText(HWND window) {
  wchar_t text[TextCapacity] = {};
  InternalGetWindowText(window, text, TextCapacity);
  return Narrow(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[TextCapacity] = {};
  GetClassNameW(window, name, TextCapacity);
  return Narrow(name);
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
  std::vector<HWND> all, found;
  const auto collect = [](HWND window, LPARAM to) -> BOOL {
    reinterpret_cast<std::vector<HWND>*>(to)->push_back(window);
    return TRUE;
  };
  EnumWindows(collect, reinterpret_cast<LPARAM>(&all));
  std::copy_if(all.begin(), all.end(), std::back_inserter(found), [processId](HWND window) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner == processId;
  });
  return found;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(PollMs);
  }
  return true;
}

HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelWindows(processId)) {
          if (IsWindowVisible(window) && match(window)) found = window;
        }
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

void Settle(const Program& program) {
  WaitForInputIdle(program.Handle(), MessageTimeoutMs);
  Sleep(SettleMs);
}

HWND WaitForSheet(const Program& program) {
  return WaitForWindow(
      program.Id(), [](HWND w) { return ClassOf(w) == "#32770" && StoredText(w) == SheetCaption; },
      StartTimeoutMs);
}

HWND Page(HWND sheet, const wchar_t* caption) {
  const HWND page = FindWindowExW(sheet, nullptr, L"#32770", caption);
  return page != nullptr && IsWindowVisible(page) ? page : nullptr;
}

HWND ShowPage(HWND sheet, int index, const wchar_t* caption) {
  PostMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
  HWND page = nullptr;
  WaitUntil([&] { return (page = Page(sheet, caption)) != nullptr; }, BoxTimeoutMs);
  return page;
}

std::optional<Box> WaitForBox(DWORD processId, DWORD timeoutMs) {
  const HWND handle = WaitForWindow(
      processId, [](HWND w) { return ClassOf(w) == "#32770" && GetDlgItem(w, BoxTextId) != nullptr; },
      timeoutMs);
  if (handle == nullptr) return std::nullopt;
  Box box{handle, Text(handle), Text(GetDlgItem(handle, BoxTextId)), {}, GetWindow(handle, GW_OWNER)};
  for (HWND b = FindWindowExW(handle, nullptr, L"Button", nullptr); b; b = FindWindowExW(handle, b, L"Button", nullptr))
    if (IsWindowVisible(b)) box.buttons.push_back(GetDlgCtrlID(b));
  std::sort(box.buttons.begin(), box.buttons.end());
  return box;
}

void ExpectBox(const std::optional<Box>& box, const std::string& caption, const std::string& text,
               const std::vector<int>& buttons, HWND owner) {
  ASSERT_TRUE(box.has_value()) << caption;
  EXPECT_EQ(box->caption, caption);
  EXPECT_EQ(box->text, text);
  EXPECT_EQ(box->buttons, buttons);
  EXPECT_EQ(box->owner, owner) << caption;
}

bool Answer(const Box& box, int buttonId) {
  const HWND button = GetDlgItem(box.handle, buttonId);
  if (button == nullptr || !IsWindowVisible(button)) return false;
  Click(button);
  return WaitUntil([&] { return !IsWindow(box.handle) || !IsWindowVisible(box.handle); }, BoxTimeoutMs);
}

void Click(HWND button) {
  // Posted: a sent click would not return before the window it opens closes.
  PostMessageW(button, BM_CLICK, 0, 0);
}

std::vector<std::string> TabTexts(HWND tabControl, const Program& owner) {
  std::vector<std::string> texts(static_cast<std::size_t>(SendMessageW(tabControl, TCM_GETITEMCOUNT, 0, 0)));
  for (std::size_t index = 0; index < texts.size(); ++index) {
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    SendRemote(tabControl, owner, TCM_GETITEMW, index, item, &texts[index]);
  }
  return texts;
}

std::vector<ComboLine> ComboLines(HWND combo) {
  std::vector<ComboLine> lines;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    // Wine marshals CB_GETLBTEXT between processes; only the wide form comes back unchanged.
    wchar_t text[TextCapacity] = {};
    if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < TextCapacity)
      SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    lines.push_back({Narrow(text), SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)});
  }
  return lines;
}

std::vector<ListItem> ListItems(HWND listView, const Program& owner) {
  std::vector<ListItem> items(static_cast<std::size_t>(SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0)));
  for (std::size_t index = 0; index < items.size(); ++index) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(index);
    SendRemote(listView, owner, LVM_GETITEMW, 0, item, &items[index].first);
    items[index].second = item.iImage;
  }
  return items;
}

bool DoubleClickItem(HWND listView, const Program& owner, int index) {
  RECT rect = {LVIR_BOUNDS, 0, 0, 0};
  if (!SendRemote(listView, owner, LVM_GETITEMRECT, static_cast<WPARAM>(index), rect)) return false;
  const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  // What the system queues for a double-click: down, up, double-click, up.
  for (const UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
    PostMessageW(listView, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
  return true;
}

void ProgressWatcher::Poll() {
  for (HWND handle : TopLevelWindows(processId_)) {
    if (ClassOf(handle) != "SplashScreen") continue;
    auto known = std::find_if(windows_.begin(), windows_.end(), [&](const Window& w) { return w.handle == handle; });
    if (known == windows_.end()) {
      if (!IsWindowVisible(handle)) continue;  // a window counts from when it is shown
      known = windows_.insert(windows_.end(), {handle, {}});
    }
    const std::string text = StoredText(handle);
    if (IsWindow(handle) && (known->texts.empty() ? !text.empty() : known->texts.back() != text))
      known->texts.push_back(text);
  }
}

bool ProgressWatcher::AnyOpen() const {
  return std::any_of(windows_.begin(), windows_.end(),
                     [](const Window& w) { return IsWindow(w.handle) && IsWindowVisible(w.handle); });
}

bool ProgressWatcher::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  return robot::WaitUntil([&] { return Poll(), condition(); }, timeoutMs);
}

void Screenshot(const std::string& name) {
  std::printf("SCREENSHOT %s\n", name.c_str());
  std::fflush(stdout);
  char answer[64] = {};
  std::fgets(answer, sizeof answer, stdin);
}

}  // namespace robot

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kf-robot [GoogleTest options] PROGRAM\n");
    return 2;
  }
  robot::programPath = argv[1];
  const int result = RUN_ALL_TESTS();
  return testing::UnitTest::GetInstance()->test_to_run_count() == 0 ? 1 : result;
}
