// What the page scenarios share: starting the program and finding its sheet,
// its pages and buttons.
#pragma once

#include <optional>
#include <string>

#include "tests/wine/robot/control_robot.h"
#include "tests/wine/robot/window_robot.h"

namespace robot {

inline constexpr DWORD ProgramStartTimeoutMs = 30000;  // the first program on a new desktop is slow
inline constexpr DWORD ProgramExitTimeoutMs = 10000;

std::string Quoted(const std::string& program);
bool IsKelmoraSheet(HWND window);
// The sheet's own buttons (OK, Cancel) are its direct children.
HWND SheetButton(HWND sheet, const std::string& text);
// The visible page dialog with that caption, or none.
HWND VisiblePage(HWND sheet, const std::string& caption);
// Selects tab `index` and waits for the page captioned `caption`.
HWND ShowPage(HWND sheet, int index, const std::string& caption);
void ExpectExitCodeZero(Checks& checks, const Program& program, const std::string& how);

}  // namespace robot
