// The pages at work. On the simulated build (virtual ports, a virtual
// Tarvonic 1.90 in its boot loader): MIDI start, a scan, a whole flash, and
// the Ports page's toggles. On the shipped build, which finds no MIDI device
// under Wine: the configuration error and a sheet that still closes cleanly.
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

#include "tests/wine/robot/control_robot.h"
#include "tests/wine/robot/page_helpers.h"
#include "tests/wine/robot/scenarios.h"

namespace robot {
namespace {

constexpr int DeviceListId = 1001;
constexpr int StartFlashId = 1003;
constexpr int DetailsId = 1004;
constexpr int ScanId = 1013;
constexpr int PortListId = 1016;
constexpr int DisableAllId = 1017;
constexpr int EnableAllId = 1018;

constexpr DWORD MidiStartTimeoutMs = 20000;
constexpr DWORD ScanTimeoutMs = 20000;
constexpr DWORD UploadTimeoutMs = 120000;
constexpr DWORD BoxTimeoutMs = 10000;
constexpr DWORD NothingHappensMs = 1500;  // how long "nothing happens" is watched
constexpr DWORD UploadShotDelayMs = 1500;

const std::string Placeholder = "Press Scan to search for Devices";
const std::string DeviceLine = "Tarvonic[41] V1.90 at Tarvonic In Ch 1";
const std::string DeviceDetails =
    "Device Tarvonic V1.90\r\nMIDI-Input: Tarvonic In\r\nMIDI-Output: Tarvonic Out\r\n"
    "Update to Version 1.91";
const std::string ReadyText =
    "We are ready to upload Firmware V1.91 to your Device.\r\n"
    "Please follow the messages on your Device and ensure\r\n"
    "not to abort the Upload or power down your Device\r\n"
    "Otherwise you will need to repeat the update.\r\n"
    "Are you certain to start the Upload now?";
const std::string CompleteText =
    "The Firmware V1.91 was successfully Uploaded\nto your Device. You can now safely power\n"
    "off and on.";
const std::string SelectPortsText =
    "Please activate at least one Output and one Input on the Ports-Page!";
const std::string DisableAllText =
    "If you disable all ports you have to activate the proper IN and OUT port manually!\r\n"
    "Are you sure to disable all ports?";

// The simulated build's ports as the Ports page lists them.
const std::vector<std::string> PortTexts = {
    "In00[00A7 0041]: Tarvonic In",      "In01[0002 0110]: Desk Keyboard In",
    "Out00[00A7 0042]: Tarvonic Out",    "Out01[0001 0066]: Wavetable Synth",
    "Out02[0002 0111]: Desk Keyboard Out",
};

struct Sheet {
  std::optional<Program> program;
  HWND sheet = nullptr;
  HWND flash = nullptr;
};

std::string Describe(const std::vector<ComboLine>& lines) {
  std::vector<std::string> texts;
  for (const ComboLine& line : lines) texts.push_back(line.text);
  return Joined(texts);
}

std::vector<int> Images(const std::vector<ListItem>& items) {
  std::vector<int> images;
  for (const ListItem& item : items) images.push_back(item.image);
  return images;
}

std::string Describe(const std::vector<int>& images) {
  std::string out;
  for (int image : images) out += (out.empty() ? "" : " ") + std::to_string(image);
  return out;
}

void ExpectImages(Checks& checks, HWND list, const Program& program, const std::vector<int>& expected,
                  const std::string& when) {
  // The page repaints on its own; the images come from the ports either way.
  const std::vector<int> images = Images(ListItems(list, program));
  checks.Expect(images == expected,
                "images " + when + ": " + Describe(images) + " (expected " + Describe(expected) + ")");
}

bool IsEnabled(HWND page, int id) { return IsWindowEnabled(GetDlgItem(page, id)) != FALSE; }

// Starts the simulated program and waits, watching its progress windows, for
// MIDI to be up: the device list then holds its placeholder line.
Sheet StartSimulated(const std::string& path, Checks& checks, ProgressWatcher*& watcher,
                     std::optional<ProgressWatcher>& storage) {
  Sheet s{Program::Start(Quoted(path), true)};
  if (!checks.Expect(s.program.has_value(), "program started")) return s;
  storage.emplace(s.program->Id());
  watcher = &*storage;
  watcher->Poll();  // the first look at the desktop takes a while; done before the program runs
  s.program->Resume();
  // MIDI starts while the sheet is being shown: its caption is read without
  // waiting for the busy user-interface thread, or the watcher would miss
  // MIDI start's progress window.
  WaitWatching(*watcher, [&] {
    for (HWND window : TopLevelWindows(s.program->Id())) {
      if (Visible(window) && ClassName(window) == "#32770" &&
          StoredWindowText(window) == "Kelmora Flasher")
        s.sheet = window;
    }
    return s.sheet != nullptr;
  }, ProgramStartTimeoutMs);
  if (!checks.Expect(s.sheet != nullptr, "the sheet appeared")) return s;
  s.flash = VisiblePage(s.sheet, "Flash");
  if (!checks.Expect(s.flash != nullptr, "the Flash page is shown")) return s;
  HWND list = GetDlgItem(s.flash, DeviceListId);
  // Once MIDI start's window is seen, the list is asked only after it has
  // gone, so that the watcher never waits on the busy user-interface thread.
  const bool up = WaitWatching(*watcher, [&] {
    return !watcher->AnyOpen() && !ComboLines(list).empty();
  }, MidiStartTimeoutMs);
  checks.Expect(up, "MIDI started: the device list has a line and no progress window is open");
  return s;
}

void CancelSheet(Checks& checks, Sheet& s) {
  HWND cancel = SheetButton(s.sheet, "Cancel");
  if (checks.Expect(cancel != nullptr, "Cancel found")) Click(cancel);
  ExpectExitCodeZero(checks, *s.program, "Cancel");
}

// Presses Scan and waits until the scan is over: its window has closed and
// the page has taken up input again. (Closing the window already answers
// messages from other processes, before the page refills its list.)
void Scan(ProgressWatcher& watcher, const Program& program, HWND flash) {
  const size_t before = watcher.Windows().size();
  Click(GetDlgItem(flash, ScanId));
  WaitWatching(watcher, [&] { return watcher.Windows().size() > before && !watcher.AnyOpen(); },
               ScanTimeoutMs);
  WaitForIdle(program);
}

}  // namespace

void SimulatedFlashScenario(const std::string& path, Checks& checks) {
  std::optional<ProgressWatcher> storage;
  ProgressWatcher* watcher = nullptr;
  Sheet s = StartSimulated(path, checks, watcher, storage);
  if (s.flash == nullptr) return;
  const DWORD id = s.program->Id();
  HWND list = GetDlgItem(s.flash, DeviceListId);
  HWND details = GetDlgItem(s.flash, DetailsId);

  // MIDI start showed each port's name; the busy input left an empty line.
  // On Wine's virtual desktop the first progress window of a process is
  // drawn (the screenshots show it) but often not listed to other
  // processes; its texts can then not be read.
  if (!watcher->Windows().empty() && watcher->Windows().front().texts.size() > 0 &&
      watcher->Windows().size() == 1) {
    checks.ExpectEqual(Joined(watcher->Windows().front().texts),
                       Joined({"Tarvonic In", "Desk Keyboard In", "Loopback In", "", "Tarvonic Out",
                               "Wavetable Synth", "Desk Keyboard Out"}),
                       "status texts while MIDI starts");
  } else {
    checks.Note("MIDI start's progress window was not listed to the robot: its texts are unchecked");
  }
  std::vector<ComboLine> lines = ComboLines(list);
  checks.ExpectEqual(Describe(lines), Joined({Placeholder}), "device list after MIDI start");
  checks.Expect(lines.size() == 1 && lines[0].data == 0, "the placeholder carries no device");
  checks.Expect(ComboSelection(list) == 0, "the placeholder is selected");
  checks.ExpectEqual(WindowText(details), "", "details after MIDI start");
  checks.Expect(IsEnabled(s.flash, StartFlashId), "Start Flash enabled, as in the template");
  Screenshot("flash-started");

  // Start Flash on the placeholder does nothing.
  const size_t windowsBefore = TopLevelWindows(id).size();
  Click(GetDlgItem(s.flash, StartFlashId));
  WaitWatching(*watcher, [] { return false; }, NothingHappensMs);
  checks.Expect(TopLevelWindows(id).size() == windowsBefore && WaitForMessageBox(id, 0) == nullptr,
                "Start Flash on the placeholder opens nothing");

  const size_t scanWindow = watcher->Windows().size();
  Scan(*watcher, *s.program, s.flash);
  lines = ComboLines(list);
  checks.ExpectEqual(Describe(lines), Joined({DeviceLine}), "device list after the scan");
  checks.Expect(lines.size() == 1 && lines[0].data != 0, "the line carries its device");
  checks.Expect(ComboSelection(list) == 0, "the device's line is selected");
  checks.ExpectEqual(WindowText(details), DeviceDetails, "details after the scan");
  checks.Expect(IsEnabled(s.flash, StartFlashId), "Start Flash enabled for the device");
  if (checks.Expect(watcher->Windows().size() > scanWindow, "the scan showed a progress window"))
    checks.ExpectEqual(Joined(watcher->Windows()[scanWindow].texts),
                       Joined({"Tarvonic Out", "Desk Keyboard Out"}),
                       "scan status: the enabled outputs in turn");
  Screenshot("device-found");

  Click(GetDlgItem(s.flash, StartFlashId));
  HWND ready = ExpectMessageBox(checks, id, "Ready to begin!", ReadyText, {IDOK, IDCANCEL},
                                nullptr, BoxTimeoutMs);
  if (ready == nullptr) return;
  Screenshot("ready-to-begin");

  // The page stays usable under the flash's box; Scan and Start Flash must
  // leave the flash's device alone.
  const size_t windowsUnderBox = watcher->Windows().size();
  Click(GetDlgItem(s.flash, ScanId));
  Click(GetDlgItem(s.flash, StartFlashId));
  WaitWatching(*watcher, [] { return false; }, NothingHappensMs);
  checks.Expect(watcher->Windows().size() == windowsUnderBox,
                "Scan and Start Flash under the flash's box start nothing");
  checks.ExpectEqual(Describe(ComboLines(list)), Joined({DeviceLine}),
                     "device list unchanged under the flash's box");
  checks.Expect(WaitForMessageBox(id, 0) == ready, "still the one box");

  const DWORD uploadStart = GetTickCount();
  checks.Expect(AnswerAndWaitGone(ready, IDOK, BoxTimeoutMs), "\"Ready to begin!\" answered OK");
  bool shot = false;
  HWND complete = nullptr;
  WaitWatching(*watcher, [&] {
    if (!shot && !watcher->TextsOfWindowShowing("Writing Sections...").empty()) {
      shot = true;
      Sleep(UploadShotDelayMs);
      Screenshot("uploading");
    }
    complete = WaitForMessageBox(id, 0);
    return complete != nullptr;
  }, UploadTimeoutMs);
  const DWORD uploadMs = GetTickCount() - uploadStart;
  checks.Note("upload took " + std::to_string(uploadMs) + " ms of real time");
  checks.ExpectEqual(Joined(watcher->TextsOfWindowShowing("Erasing Flash...")),
                     Joined({"Erasing Flash...", "Writing Sections...", "Restarting..."}),
                     "upload status: the image's markers in turn");
  checks.Expect(!watcher->AnyOpen(), "the upload's window has closed");
  complete = ExpectMessageBox(checks, id, "Upload Complete", CompleteText, {IDOK}, nullptr,
                              BoxTimeoutMs);
  if (complete == nullptr) return;
  Screenshot("upload-complete");
  checks.Expect(AnswerAndWaitGone(complete, IDOK, BoxTimeoutMs), "\"Upload Complete\" answered OK");

  // The list is not refreshed after a flash.
  checks.ExpectEqual(Describe(ComboLines(list)), Joined({DeviceLine}), "device list after the flash");
  checks.ExpectEqual(WindowText(details), DeviceDetails, "details after the flash");
  CancelSheet(checks, s);
}

void SimulatedPortsScenario(const std::string& path, Checks& checks) {
  std::optional<ProgressWatcher> storage;
  ProgressWatcher* watcher = nullptr;
  Sheet s = StartSimulated(path, checks, watcher, storage);
  if (s.flash == nullptr) return;
  const DWORD id = s.program->Id();

  HWND ports = ShowPage(s.sheet, 1, "Ports");
  if (!checks.Expect(ports != nullptr, "the Ports page is shown")) return;
  HWND portList = GetDlgItem(ports, PortListId);
  WaitForIdle(*s.program);
  const std::vector<ListItem> items = ListItems(portList, *s.program);
  std::vector<std::string> texts;
  for (const ListItem& item : items) texts.push_back(item.text);
  checks.ExpectEqual(Joined(texts), Joined(PortTexts), "port items: inputs, then outputs");
  ExpectImages(checks, portList, *s.program, {0, 0, 2, 3, 2},
               "at start (the synthesizer output is off)");
  Screenshot("ports-page");

  checks.Expect(DoubleClickItem(portList, *s.program, 0), "double-clicked the first input");
  WaitForIdle(*s.program);
  ExpectImages(checks, portList, *s.program, {1, 0, 2, 3, 2}, "after a double-click on In00");
  Screenshot("ports-toggled");
  DoubleClickItem(portList, *s.program, 0);
  WaitForIdle(*s.program);
  ExpectImages(checks, portList, *s.program, {0, 0, 2, 3, 2}, "after a second double-click");
  DoubleClickItem(portList, *s.program, 3);
  WaitForIdle(*s.program);
  ExpectImages(checks, portList, *s.program, {0, 0, 2, 2, 2}, "after a double-click on Out01");
  // Below the last item: no item is hit.
  RECT client = {};
  GetClientRect(portList, &client);
  DoubleClickAt(portList, client.right - 4, client.bottom - 4);
  WaitForIdle(*s.program);
  ExpectImages(checks, portList, *s.program, {0, 0, 2, 2, 2}, "after a double-click on no item");

  Click(GetDlgItem(ports, DisableAllId));
  HWND box = ExpectMessageBox(checks, id, "Disable all MIDI Ports", DisableAllText, {IDYES, IDNO},
                              s.sheet, BoxTimeoutMs);
  if (box == nullptr) return;
  AnswerAndWaitGone(box, IDNO, BoxTimeoutMs);
  ExpectImages(checks, portList, *s.program, {0, 0, 2, 2, 2}, "after Disable All answered No");

  Click(GetDlgItem(ports, DisableAllId));
  box = ExpectMessageBox(checks, id, "Disable all MIDI Ports", DisableAllText, {IDYES, IDNO},
                         s.sheet, BoxTimeoutMs);
  if (box == nullptr) return;
  AnswerAndWaitGone(box, IDYES, BoxTimeoutMs);
  WaitForIdle(*s.program);
  ExpectImages(checks, portList, *s.program, {1, 1, 3, 3, 3}, "after Disable All answered Yes");
  Screenshot("ports-all-disabled");

  // Back on the Flash page a scan finds no enabled output.
  s.flash = ShowPage(s.sheet, 0, "Flash");
  if (!checks.Expect(s.flash != nullptr, "back on the Flash page")) return;
  HWND list = GetDlgItem(s.flash, DeviceListId);
  Click(GetDlgItem(s.flash, ScanId));
  box = ExpectMessageBox(checks, id, "No Output selected", SelectPortsText, {IDOK}, s.sheet,
                         BoxTimeoutMs);
  if (box == nullptr) return;
  Screenshot("no-output-selected");
  AnswerAndWaitGone(box, IDOK, BoxTimeoutMs);
  WaitForIdle(*s.program);
  checks.ExpectEqual(Describe(ComboLines(list)), Joined({Placeholder}),
                     "device list after the refused scan");
  checks.ExpectEqual(WindowText(GetDlgItem(s.flash, DetailsId)), "", "details after it");
  checks.Expect(!IsEnabled(s.flash, StartFlashId), "Start Flash disabled without a device");

  ports = ShowPage(s.sheet, 1, "Ports");
  if (!checks.Expect(ports != nullptr, "the Ports page again")) return;
  const std::vector<ListItem> again = ListItems(portList, *s.program);
  checks.Expect(again.size() == PortTexts.size(), "switching tabs neither refills nor reorders");
  Click(GetDlgItem(ports, EnableAllId));
  WaitForIdle(*s.program);
  checks.Expect(WaitForMessageBox(id, 0) == nullptr, "Enable All asks nothing");
  ExpectImages(checks, portList, *s.program, {0, 0, 2, 2, 2}, "after Enable All");

  // A scan finds the instrument again and enables Start Flash again.
  s.flash = ShowPage(s.sheet, 0, "Flash");
  if (!checks.Expect(s.flash != nullptr, "the Flash page again")) return;
  Scan(*watcher, *s.program, s.flash);
  checks.ExpectEqual(Describe(ComboLines(list)), Joined({DeviceLine}), "device list after Enable All");
  checks.ExpectEqual(WindowText(GetDlgItem(s.flash, DetailsId)), DeviceDetails, "details again");
  checks.Expect(IsEnabled(s.flash, StartFlashId), "Start Flash enabled again");
  checks.ExpectEqual(Joined(watcher->Windows().back().texts),
                     Joined({"Tarvonic Out", "Wavetable Synth", "Desk Keyboard Out"}),
                     "the scan now asks the synthesizer output too");
  CancelSheet(checks, s);
}

void NoMidiScenario(const std::string& path, Checks& checks) {
  std::optional<Program> program = Program::Start(Quoted(path));
  if (!checks.Expect(program.has_value(), "program started")) return;
  HWND sheet = WaitForTopLevelWindow(program->Id(), IsKelmoraSheet, ProgramStartTimeoutMs);
  if (!checks.Expect(sheet != nullptr, "the sheet appeared")) return;
  HWND box = ExpectMessageBox(checks, program->Id(), "MIDI Configuration Error",
                              "No MIDI Inputs are found!", {IDOK}, nullptr, BoxTimeoutMs);
  if (box == nullptr) return;
  Screenshot("no-midi");
  AnswerAndWaitGone(box, IDOK, BoxTimeoutMs);
  HWND flash = VisiblePage(sheet, "Flash");
  if (checks.Expect(flash != nullptr, "the Flash page is shown")) {
    checks.Expect(ComboLines(GetDlgItem(flash, DeviceListId)).empty(),
                  "the device list has no line without MIDI");
  }
  HWND cancel = SheetButton(sheet, "Cancel");
  if (checks.Expect(cancel != nullptr, "Cancel found")) Click(cancel);
  ExpectExitCodeZero(checks, *program, "Cancel");
}

}  // namespace robot
