#include "tests/wine/robot/scenarios.h"

namespace robot {
namespace {

constexpr DWORD StartTimeoutMs = 30000;
constexpr DWORD ExitTimeoutMs = 10000;
constexpr int MessageBoxTextId = 0xFFFF;  // the static control holding a box's text

}  // namespace

void FatalBoxScenario(const std::string& path, Checks& checks) {
  std::optional<Program> program = Program::Start("\"" + path + "\"");
  if (!checks.Expect(program.has_value(), "program started")) return;
  HWND box = WaitForTopLevelWindow(
      program->Id(), [](HWND window) { return ClassName(window) == "#32770"; }, StartTimeoutMs);
  if (!checks.Expect(box != nullptr, "a dialog box appeared")) return;
  WaitForIdle(*program);

  checks.ExpectEqual(WindowText(box), "Fatal internal error", "box caption");
  HWND text = GetDlgItem(box, MessageBoxTextId);
  if (checks.Expect(text != nullptr, "box has a text control"))
    checks.ExpectEqual(WindowText(text), "Unable to prepare Update Data!", "box text");
  checks.Expect(GetWindow(box, GW_OWNER) == nullptr, "box has no owner");

  // MB_OK: one button, OK.
  std::vector<std::string> buttons;
  HWND ok = nullptr;
  for (HWND child : Descendants(box)) {
    if (ClassName(child) != "Button" || !Visible(child)) continue;
    buttons.push_back(WindowText(child));
    if (ControlId(child) == IDOK) ok = child;
  }
  checks.Expect(buttons.size() == 1, "exactly one button (" + std::to_string(buttons.size()) + ")");
  checks.Expect(ok != nullptr, "the button is OK");
  if (!buttons.empty()) checks.Note("button text \"" + buttons.front() + "\"");

  // Nothing else of the program is on screen: no sheet behind the box.
  int others = 0;
  for (HWND window : TopLevelWindows(program->Id()))
    if (window != box && Visible(window)) ++others;
  checks.Expect(others == 0, "no other window of the program is visible");
  Screenshot("box");

  if (ok != nullptr) Click(ok);
  const std::optional<DWORD> code = program->WaitForExit(ExitTimeoutMs);
  if (checks.Expect(code.has_value(), "program ended after OK"))
    checks.Expect(*code == 0, "exit code is " + std::to_string(*code));
}

}  // namespace robot
