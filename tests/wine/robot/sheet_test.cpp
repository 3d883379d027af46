// The shipped program's shell on a Wine without MIDI devices: the sheet, its
// pages and buttons, the ways it ends, two instances side by side; and a
// program whose image is unusable, which shows only its fatal box.
#include "tests/wine/robot/robot.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <tuple>

namespace robot {
namespace {

// Starts the program and waits for its sheet; MIDI start, with no device to
// find, has shown its box and it has been answered.
HWND StartSheet(const Program& program) {
  EXPECT_TRUE(program.Started());
  const HWND sheet = WaitForSheet(program);
  EXPECT_NE(sheet, nullptr);
  const std::optional<Box> box = WaitForBox(program.Id());
  ExpectBox(box, "MIDI Configuration Error", "No MIDI Inputs are found!", {IDOK}, nullptr);
  if (box) {
    Screenshot("no-midi");
    EXPECT_TRUE(Answer(*box, IDOK));
  }
  Settle(program);
  return sheet;
}

void ExpectExitCodeZero(const Program& program) { EXPECT_EQ(program.WaitForExit(), DWORD{0}); }

// Each control by id: its class and text.
void ExpectControls(HWND page, std::initializer_list<std::tuple<int, const char*, const char*>> controls) {
  for (const auto& [id, className, text] : controls) {
    const HWND control = GetDlgItem(page, id);
    ASSERT_NE(control, nullptr) << id;
    EXPECT_EQ(ClassOf(control), className) << id;
    EXPECT_EQ(Text(control), text) << id;
  }
}

TEST(Sheet, ShowsFlashThenPortsWithOkAndCancelAndEndsWithCancel) {
  // The program reads no command line.
  const Program program = Program::Start(" /s --scan -flash C:\\nothing.mid");
  const HWND sheet = StartSheet(program);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(Text(sheet), SheetCaption);
  EXPECT_EQ(GetWindow(sheet, GW_OWNER), nullptr);
  EXPECT_EQ(GetParent(sheet), nullptr);
  const HWND tab = FindWindowExW(sheet, nullptr, L"SysTabControl32", nullptr);
  EXPECT_EQ(TabTexts(tab, program), (std::vector<std::string>{"Flash", "Ports"}));
  std::vector<std::string> buttons;  // the sheet's own, that show
  for (HWND b = SheetButton(sheet, nullptr); b != nullptr; b = FindWindowExW(sheet, b, L"Button", nullptr))
    if (IsWindowVisible(b)) buttons.push_back(Text(b));
  EXPECT_EQ(buttons, (std::vector<std::string>{"OK", "Cancel"})) << "no Apply";

  const HWND flash = Page(sheet, L"Flash");
  ASSERT_NE(flash, nullptr);
  ExpectControls(flash, {{0xFFFF, "Static", "Detected Devices:"}, {1001, "ComboBox", ""},
                         {1004, "Edit", ""}, {1003, "Button", "Start Flash"}, {1013, "Button", "Scan"}});
  EXPECT_TRUE(ComboLines(GetDlgItem(flash, 1001)).empty()) << "no line without MIDI";
  EXPECT_EQ(Page(sheet, L"Ports"), nullptr);

  const HWND ports = ShowPage(sheet, 1, L"Ports");
  ASSERT_NE(ports, nullptr);
  Settle(program);
  ExpectControls(ports, {{0xFFFF, "Static", "Ports-List, Double-Click to Enable/Disable"},
                         {1016, "SysListView32", "List2"}, {1017, "Button", "Disable All"},
                         {1018, "Button", "Enable All"}});
  EXPECT_EQ(Page(sheet, L"Flash"), nullptr);
  EXPECT_EQ(SendMessageW(tab, TCM_GETCURSEL, 0, 0), 1);
  Click(SheetButton(sheet, L"Cancel"));
  ExpectExitCodeZero(program);
}

// Two instances side by side, each ending on its own: one with OK, the
// other with its close box.
TEST(Sheet, TwoInstancesEndWithOkAndWithTheCloseBox) {
  const Program first = Program::Start();
  const HWND firstSheet = StartSheet(first);
  const Program second = Program::Start();
  const HWND secondSheet = StartSheet(second);
  ASSERT_TRUE(firstSheet != nullptr && secondSheet != nullptr && firstSheet != secondSheet);
  // Both open at the same place; side by side the picture shows two.
  SetWindowPos(secondSheet, nullptr, 380, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Settle(second);
  Screenshot("both-sheets");
  Click(SheetButton(secondSheet, L"OK"));
  ExpectExitCodeZero(second);
  EXPECT_TRUE(IsWindow(firstSheet)) << "the first is still up";
  EXPECT_NE(GetWindowLongW(firstSheet, GWL_STYLE) & WS_SYSMENU, 0) << "a close box";
  PostMessageW(firstSheet, WM_SYSCOMMAND, SC_CLOSE, 0);  // what the close box sends
  ExpectExitCodeZero(first);
}

// Started beside DLLs named like those it uses (planted_dlls.sh), with the
// MIDI driver for Wine: Windows' own winmm and its driver find the ports,
// and the program ends as it should.
TEST(Planted, TheProgramStartsMidiThroughWindowsOwnDlls) {
  const Program program = Program::Start();
  ProgressWatcher watcher(program.Id());
  const HWND sheet = WaitForSheet(program);
  ASSERT_NE(sheet, nullptr);
  const HWND list = GetDlgItem(Page(sheet, L"Flash"), 1001);
  // Asked only once MIDI start's window has gone, never of a busy thread.
  EXPECT_TRUE(watcher.WaitUntil([&] { return !watcher.AnyOpen() && !ComboLines(list).empty(); }, 20000));
  // The placeholder comes only once MIDI has found inputs and outputs.
  EXPECT_EQ(ComboLines(list), (std::vector<ComboLine>{{"Press Scan to search for Devices", 0}}));
  Click(SheetButton(sheet, L"Cancel"));
  ExpectExitCodeZero(program);
}

TEST(FatalBox, IsAllAProgramWithAnUnusableImageShows) {
  const Program program = Program::Start();
  const std::optional<Box> box = WaitForBox(program.Id(), StartTimeoutMs);
  ExpectBox(box, "Fatal internal error", "Unable to prepare Update Data!", {IDOK}, nullptr);
  ASSERT_TRUE(box.has_value());
  Settle(program);
  for (HWND window : TopLevelWindows(program.Id()))
    EXPECT_TRUE(window == box->handle || !IsWindowVisible(window)) << "only the box is on screen";
  Screenshot("fatal-box");
  EXPECT_TRUE(Answer(*box, IDOK));
  ExpectExitCodeZero(program);
}

}  // namespace
}  // namespace robot
