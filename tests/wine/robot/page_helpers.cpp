#include "tests/wine/robot/page_helpers.h"

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

namespace robot {

namespace {
constexpr DWORD PageTimeoutMs = 5000;
}

std::string Quoted(const std::string& program) { return "\"" + program + "\""; }

bool IsKelmoraSheet(HWND window) {
  return ClassName(window) == "#32770" && WindowText(window) == "Kelmora Flasher";
}

HWND SheetButton(HWND sheet, const std::string& text) {
  for (HWND child = GetWindow(sheet, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == "Button" && WindowText(child) == text) return child;
  }
  return nullptr;
}

HWND VisiblePage(HWND sheet, const std::string& caption) {
  for (HWND window : Descendants(sheet)) {
    if (ClassName(window) == "#32770" && Visible(window) && WindowText(window) == caption)
      return window;
  }
  return nullptr;
}

HWND ShowPage(HWND sheet, int index, const std::string& caption) {
  PostMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
  HWND page = nullptr;
  WaitUntil([&] { return (page = VisiblePage(sheet, caption)) != nullptr; }, PageTimeoutMs);
  return page;
}

void ExpectExitCodeZero(Checks& checks, const Program& program, const std::string& how) {
  const std::optional<DWORD> code = program.WaitForExit(ProgramExitTimeoutMs);
  if (checks.Expect(code.has_value(), "program ended after " + how))
    checks.Expect(*code == 0, "exit code after " + how + " is " + std::to_string(*code));
}

}  // namespace robot
