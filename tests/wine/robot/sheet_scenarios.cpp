#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <vector>

#include "tests/wine/robot/page_helpers.h"
#include "tests/wine/robot/scenarios.h"

namespace robot {
namespace {

constexpr DWORD PageTimeoutMs = 5000;
constexpr DWORD MidiBoxTimeoutMs = 10000;
// Arguments the program must not react to: it reads no command line.
constexpr const char* IgnoredArguments = " /s --scan -flash C:\\nothing.mid";

void ExpectControl(Checks& checks, HWND page, int id, const std::string& className,
                   const std::string& text) {
  HWND control = GetDlgItem(page, id);
  const std::string what = "control " + std::to_string(id);
  if (!checks.Expect(control != nullptr, what + " exists")) return;
  checks.ExpectEqual(ClassName(control), className, what + " class");
  if (!text.empty()) checks.ExpectEqual(WindowText(control), text, what + " text");
}

// Starts the program and waits for its sheet; none when it did not appear.
HWND StartAndFindSheet(const std::optional<Program>& program, Checks& checks) {
  if (!checks.Expect(program.has_value(), "program started")) return nullptr;
  HWND sheet = WaitForTopLevelWindow(program->Id(), IsKelmoraSheet, ProgramStartTimeoutMs);
  checks.Expect(sheet != nullptr, "a sheet captioned \"Kelmora Flasher\" appeared");
  if (sheet == nullptr) return nullptr;
  // The Flash page starts MIDI once the sheet is up; Wine offers no MIDI
  // device here, so the configuration error comes first.
  if (HWND box = WaitForMessageBox(program->Id(), MidiBoxTimeoutMs)) {
    checks.ExpectEqual(ReadMessageBox(box).text, "No MIDI Inputs are found!", "MIDI start's box");
    AnswerMessageBox(box, IDOK);
    WaitUntil([&] { return WaitForMessageBox(program->Id(), 0) == nullptr; }, MidiBoxTimeoutMs);
  } else {
    checks.Note("no MIDI configuration error: this system offers MIDI ports");
  }
  WaitForIdle(*program);
  return sheet;
}

}  // namespace

void SheetScenario(const std::string& path, Checks& checks) {
  std::optional<Program> program = Program::Start(Quoted(path) + IgnoredArguments);
  HWND sheet = StartAndFindSheet(program, checks);
  if (sheet == nullptr) return;

  checks.ExpectEqual(WindowText(sheet), "Kelmora Flasher", "caption");
  checks.Expect(GetWindow(sheet, GW_OWNER) == nullptr, "sheet has no owner");
  checks.Expect(GetParent(sheet) == nullptr, "sheet has no parent");
  // The small icon cannot be checked from here: Wine answers WM_GETICON from
  // another process with none. The screenshots show it in the title bar.

  HWND tab = FindDescendant(sheet, "SysTabControl32");
  if (checks.Expect(tab != nullptr, "sheet has a tab control")) {
    const std::vector<std::string> tabs = TabTexts(tab, *program);
    checks.Expect(tabs.size() == 2, "two tabs (found " + std::to_string(tabs.size()) + ")");
    if (tabs.size() >= 1) checks.ExpectEqual(tabs[0], "Flash", "first tab");
    if (tabs.size() >= 2) checks.ExpectEqual(tabs[1], "Ports", "second tab");
    checks.Expect(SendMessageW(tab, TCM_GETCURSEL, 0, 0) == 0, "the first tab is selected");
  }

  HWND ok = SheetButton(sheet, "OK");
  HWND cancel = SheetButton(sheet, "Cancel");
  HWND apply = SheetButton(sheet, "&Apply");
  if (apply == nullptr) apply = SheetButton(sheet, "Apply");
  checks.Expect(ok != nullptr && Visible(ok), "visible OK button");
  checks.Expect(cancel != nullptr && Visible(cancel), "visible Cancel button");
  checks.Expect(apply == nullptr || !Visible(apply), "no visible Apply button");
  checks.Note(apply == nullptr ? "the sheet has no Apply button at all"
                               : "the sheet keeps a hidden Apply button");
  for (HWND child = GetWindow(sheet, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == "Button" && Visible(child))
      checks.Note("visible sheet button \"" + WindowText(child) + "\"");
  }

  HWND flash = VisiblePage(sheet, "Flash");
  if (checks.Expect(flash != nullptr, "the Flash page is shown")) {
    ExpectControl(checks, flash, 0xFFFF, "Static", "Detected Devices:");
    ExpectControl(checks, flash, 1001, "ComboBox", "");
    ExpectControl(checks, flash, 1004, "Edit", "");
    ExpectControl(checks, flash, 1003, "Button", "Start Flash");
    ExpectControl(checks, flash, 1013, "Button", "Scan");
  }
  checks.Expect(VisiblePage(sheet, "Ports") == nullptr, "the Ports page is not shown yet");
  Screenshot("flash-page");

  PostMessageW(sheet, PSM_SETCURSEL, 1, 0);
  HWND ports = nullptr;
  WaitUntil([&] { return (ports = VisiblePage(sheet, "Ports")) != nullptr; }, PageTimeoutMs);
  if (checks.Expect(ports != nullptr, "the Ports page is shown after selecting its tab")) {
    WaitForIdle(*program);
    ExpectControl(checks, ports, 0xFFFF, "Static", "Ports-List, Double-Click to Enable/Disable");
    ExpectControl(checks, ports, 1016, "SysListView32", "");
    ExpectControl(checks, ports, 1017, "Button", "Disable All");
    ExpectControl(checks, ports, 1018, "Button", "Enable All");
    checks.Expect(VisiblePage(sheet, "Flash") == nullptr, "the Flash page is hidden");
    if (tab != nullptr)
      checks.Expect(SendMessageW(tab, TCM_GETCURSEL, 0, 0) == 1, "the second tab is selected");
  }
  Screenshot("ports-page");

  if (cancel != nullptr) Click(cancel);
  ExpectExitCodeZero(checks, *program, "Cancel");
}

void SheetClosedWithOkScenario(const std::string& path, Checks& checks) {
  std::optional<Program> program = Program::Start(Quoted(path));
  HWND sheet = StartAndFindSheet(program, checks);
  if (sheet == nullptr) return;
  HWND ok = SheetButton(sheet, "OK");
  if (checks.Expect(ok != nullptr, "OK button found")) Click(ok);
  ExpectExitCodeZero(checks, *program, "OK");
}

void SheetClosedWithCloseBoxScenario(const std::string& path, Checks& checks) {
  std::optional<Program> program = Program::Start(Quoted(path));
  HWND sheet = StartAndFindSheet(program, checks);
  if (sheet == nullptr) return;
  checks.Expect((GetWindowLongW(sheet, GWL_STYLE) & WS_SYSMENU) != 0, "sheet has a close box");
  // What the close box sends.
  PostMessageW(sheet, WM_SYSCOMMAND, SC_CLOSE, 0);
  ExpectExitCodeZero(checks, *program, "the close box");
}

void TwoInstancesScenario(const std::string& path, Checks& checks) {
  std::optional<Program> first = Program::Start(Quoted(path));
  HWND firstSheet = StartAndFindSheet(first, checks);
  std::optional<Program> second = Program::Start(Quoted(path));
  HWND secondSheet = StartAndFindSheet(second, checks);
  if (firstSheet == nullptr || secondSheet == nullptr) return;
  checks.Expect(firstSheet != secondSheet, "each instance has its own sheet");
  // Both open at the same place; side by side the picture shows two.
  SetWindowPos(secondSheet, nullptr, 380, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  WaitForIdle(*second);
  Screenshot("both-sheets");

  HWND cancel = SheetButton(secondSheet, "Cancel");
  if (checks.Expect(cancel != nullptr, "Cancel of the second instance found")) Click(cancel);
  ExpectExitCodeZero(checks, *second, "Cancel of the second instance");
  checks.Expect(first->Running() && IsWindow(firstSheet), "the first instance is still up");
  cancel = SheetButton(firstSheet, "Cancel");
  if (checks.Expect(cancel != nullptr, "Cancel of the first instance found")) Click(cancel);
  ExpectExitCodeZero(checks, *first, "Cancel of the first instance");
}

}  // namespace robot
