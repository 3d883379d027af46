#include "tests/wine/robot/scenarios.h"

namespace robot {
namespace {

constexpr DWORD StartTimeoutMs = 30000;
constexpr DWORD ExitTimeoutMs = 10000;

}  // namespace

void FatalBoxScenario(const std::string& path, Checks& checks) {
  std::optional<Program> program = Program::Start("\"" + path + "\"");
  if (!checks.Expect(program.has_value(), "program started")) return;
  HWND box = WaitForMessageBox(program->Id(), StartTimeoutMs);
  if (!checks.Expect(box != nullptr, "a message box appeared")) return;
  WaitForIdle(*program);

  const MessageBoxContent content = ReadMessageBox(box);
  checks.ExpectEqual(content.caption, "Fatal internal error", "box caption");
  checks.ExpectEqual(content.text, "Unable to prepare Update Data!", "box text");
  checks.Expect(content.owner == nullptr, "box has no owner");
  // MB_OK: one button, OK.
  checks.Expect(content.buttons.size() == 1,
                "exactly one button (" + std::to_string(content.buttons.size()) + ")");
  if (!content.buttons.empty()) {
    checks.Expect(content.buttons.front().first == IDOK, "the button is OK");
    checks.Note("button text \"" + content.buttons.front().second + "\"");
  }

  // Nothing else of the program is on screen: no sheet behind the box.
  int others = 0;
  for (HWND window : TopLevelWindows(program->Id()))
    if (window != box && Visible(window)) ++others;
  checks.Expect(others == 0, "no other window of the program is visible");
  Screenshot("box");

  checks.Expect(AnswerMessageBox(box, IDOK), "OK pressed");
  const std::optional<DWORD> code = program->WaitForExit(ExitTimeoutMs);
  if (checks.Expect(code.has_value(), "program ended after OK"))
    checks.Expect(*code == 0, "exit code is " + std::to_string(*code));
}

}  // namespace robot
