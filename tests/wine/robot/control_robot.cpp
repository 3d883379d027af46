#include "tests/wine/robot/control_robot.h"

#include <algorithm>
#include <windows.h>
#include <commctrl.h>

namespace robot {
namespace {

constexpr int TextCapacity = 512;
constexpr DWORD WatchIntervalMs = 10;

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return out;
}

// Memory in another process, released when it goes.
class Remote {
 public:
  Remote(HANDLE process, SIZE_T size)
      : process_(process),
        address_(static_cast<char*>(
            VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {}
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  ~Remote() {
    if (address_ != nullptr) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  }
  char* At(SIZE_T offset) const { return address_ + offset; }
  bool Ok() const { return address_ != nullptr; }
  bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
    return WriteProcessMemory(process_, At(offset), data, size, nullptr) != FALSE;
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) const {
    return ReadProcessMemory(process_, At(offset), data, size, nullptr) != FALSE;
  }

 private:
  HANDLE process_;
  char* address_;
};

bool ItemRect(HWND listView, const Program& owner, int index, RECT& rect) {
  Remote remote(owner.Handle(), sizeof(RECT));
  if (!remote.Ok()) return false;
  RECT request = {};
  request.left = LVIR_BOUNDS;
  if (!remote.Write(0, &request, sizeof request)) return false;
  if (!SendMessageW(listView, LVM_GETITEMRECT, static_cast<WPARAM>(index),
                    reinterpret_cast<LPARAM>(remote.At(0))))
    return false;
  return remote.Read(0, &rect, sizeof rect);
}

}  // namespace

std::vector<ComboLine> ComboLines(HWND combo) {
  std::vector<ComboLine> lines;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    // Wine marshals CB_GETLBTEXT between processes, but only the wide form
    // comes back unchanged.
    wchar_t text[TextCapacity] = {};
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length >= 0 && length < TextCapacity)
      SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    lines.push_back({Narrow(text), SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)});
  }
  return lines;
}

LRESULT ComboSelection(HWND combo) { return SendMessageW(combo, CB_GETCURSEL, 0, 0); }

std::vector<ListItem> ListItems(HWND listView, const Program& owner) {
  std::vector<ListItem> items;
  const LRESULT count = SendMessageW(listView, LVM_GETITEMCOUNT, 0, 0);
  const SIZE_T textOffset = sizeof(LVITEMW);
  Remote remote(owner.Handle(), textOffset + TextCapacity * sizeof(wchar_t));
  if (!remote.Ok()) return items;
  for (LRESULT index = 0; index < count; ++index) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(index);
    item.pszText = reinterpret_cast<wchar_t*>(remote.At(textOffset));
    item.cchTextMax = TextCapacity;
    const wchar_t empty = 0;
    remote.Write(textOffset, &empty, sizeof empty);
    if (!remote.Write(0, &item, sizeof item) ||
        !SendMessageW(listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.At(0))))
      break;
    LVITEMW answered = {};
    remote.Read(0, &answered, sizeof answered);
    wchar_t text[TextCapacity] = {};
    // The control may point pszText at its own copy instead of filling ours.
    if (answered.pszText != nullptr && answered.pszText != item.pszText) {
      ReadProcessMemory(owner.Handle(), answered.pszText, text, sizeof text - sizeof(wchar_t),
                        nullptr);
    } else {
      remote.Read(textOffset, text, sizeof text - sizeof(wchar_t));
    }
    text[TextCapacity - 1] = 0;
    items.push_back({Narrow(text), answered.iImage});
  }
  return items;
}

void DoubleClickAt(HWND listView, int x, int y) {
  const LPARAM at = MAKELPARAM(x, y);
  // What the system queues for a double-click: down, up, double-click, up.
  PostMessageW(listView, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(listView, WM_LBUTTONUP, 0, at);
  PostMessageW(listView, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(listView, WM_LBUTTONUP, 0, at);
}

bool DoubleClickItem(HWND listView, const Program& owner, int index) {
  RECT rect = {};
  if (!ItemRect(listView, owner, index, rect)) return false;
  DoubleClickAt(listView, (rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  return true;
}

std::string StoredWindowText(HWND window) {
  wchar_t text[TextCapacity] = {};
  InternalGetWindowText(window, text, TextCapacity);
  text[TextCapacity - 1] = 0;
  return Narrow(text);
}

void ProgressWatcher::Poll() {
  for (HWND handle : TopLevelWindows(processId_)) {
    if (ClassName(handle) != "SplashScreen") continue;
    auto known = std::find_if(windows_.begin(), windows_.end(),
                              [&](const Window& w) { return w.handle == handle; });
    if (known == windows_.end()) {
      // A window counts from when it is shown, and is open while shown.
      if (!Visible(handle)) continue;
      windows_.push_back({handle, {}});
      known = windows_.end() - 1;
    }
    if (!IsWindow(handle)) continue;  // gone meanwhile: that is no text change
    const std::string text = StoredWindowText(handle);
    if (known->texts.empty() ? !text.empty() : known->texts.back() != text)
      known->texts.push_back(text);
  }
}

std::vector<std::string> ProgressWatcher::TextsOfWindowShowing(const std::string& text) const {
  for (const Window& window : windows_) {
    if (std::find(window.texts.begin(), window.texts.end(), text) != window.texts.end())
      return window.texts;
  }
  return {};
}

bool ProgressWatcher::AnyOpen() const {
  return std::any_of(windows_.begin(), windows_.end(),
                     [](const Window& w) { return IsWindow(w.handle) && Visible(w.handle); });
}

bool WaitWatching(ProgressWatcher& watcher, const std::function<bool()>& condition,
                  DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    watcher.Poll();
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(WatchIntervalMs);
  }
}

HWND ExpectMessageBox(Checks& checks, DWORD processId, const std::string& caption,
                      const std::string& text, const std::vector<int>& buttons, HWND owner,
                      DWORD timeoutMs) {
  HWND box = WaitForMessageBox(processId, timeoutMs);
  if (!checks.Expect(box != nullptr, "a message box \"" + caption + "\" appeared")) return nullptr;
  const MessageBoxContent content = ReadMessageBox(box);
  checks.ExpectEqual(content.caption, caption, "box caption");
  checks.ExpectEqual(content.text, text, "box text");
  std::vector<int> ids;
  std::string names;
  for (const auto& [id, name] : content.buttons) {
    ids.push_back(id);
    names += (names.empty() ? "" : ", ") + name;
  }
  std::sort(ids.begin(), ids.end());
  std::vector<int> expected = buttons;
  std::sort(expected.begin(), expected.end());
  checks.Expect(ids == expected, "box buttons (" + names + ")");
  checks.Expect(content.owner == owner, owner == nullptr ? "box has no owner" : "box owner");
  return box;
}

bool AnswerAndWaitGone(HWND box, int buttonId, DWORD timeoutMs) {
  if (!AnswerMessageBox(box, buttonId)) return false;
  return WaitUntil([&] { return !IsWindow(box) || !Visible(box); }, timeoutMs);
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts) out += (out.empty() ? "\"" : ", \"") + text + "\"";
  return out;
}

}  // namespace robot
