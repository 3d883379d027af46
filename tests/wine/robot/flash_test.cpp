// A whole flash through the pages: MIDI start, a scan, the confirmation, the
// upload's progress and "Upload Complete". The shipped program does it
// through Wine's own winmm and the MIDI driver the test installs, with the
// virtual Tarvonic behind it, in real time; it also shows and toggles the
// driver's ports on the Ports page, and the firmware the instrument received
// must be the image's. The simulated build does the flash on its own virtual
// ports, at its paced clock, as tools/run-sim-program shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/wine/robot/robot.h"
#include "texts/user_texts.h"

namespace robot {
namespace {

using Texts = std::vector<std::string>;

constexpr int DeviceListId = 1001, StartFlashId = 1003, DetailsId = 1004, ScanId = 1013;
constexpr int PortListId = 1016, DisableAllId = 1017, EnableAllId = 1018;
constexpr DWORD MidiStartTimeoutMs = 20000;
constexpr DWORD ScanTimeoutMs = 20000;
constexpr DWORD UploadTimeoutMs = 400000;  // the shipped program takes about three minutes
constexpr DWORD NothingHappensMs = 1500;   // how long "nothing happens" is watched

// Where the instrument sits and what a scan meets there.
struct World {
  std::string input, output;  // the instrument's ports
  Texts scanned;              // the scan's status texts: the enabled outputs in turn
  bool loopback;              // a loopback pair answers the model queries too
  DWORD uploadShotAfterMs;    // into the writing, for a picture with some progress
  bool unplugged = false;     // the interface goes during the first upload and comes back
};

// The programs carry the development image, and their boxes say so.
constexpr char ImageLabel[] = "1.91 (development image)";

// A text of the flash's boxes, with the image's version.
std::string Formatted(const char* format, const char* version = ImageLabel) {
  char text[768];
  std::snprintf(text, sizeof text, format, version);
  return text;
}

// The driver's ports as the Ports page shows them, and their images as the
// list asks for them.
void ExpectPorts(HWND list, const Program& program, const std::vector<int>& images) {
  const Texts texts = {"In00[7A01 0011]: MIDI Interface A In", "In01[7A02 0021]: Loopback MIDI In",
                       "Out00[7A01 0012]: MIDI Interface A Out", "Out01[7A02 0022]: Loopback MIDI Out",
                       "Out02[7A03 0031]: Wavetable Synth A"};
  std::vector<ListItem> expected;
  for (std::size_t i = 0; i < texts.size(); ++i) expected.push_back({texts[i], images[i]});
  Settle(program);
  EXPECT_EQ(ListItems(list, program), expected);
}

// Double-clicks toggle a port, Disable All asks first, Enable All does not;
// the ports are left as the program found them.
void TogglePorts(HWND sheet, const Program& program) {
  const HWND ports = ShowPage(sheet, 1, L"Ports");
  ASSERT_NE(ports, nullptr);
  const HWND list = GetDlgItem(ports, PortListId);
  // The ports as found, a port's item double-clicked (its index), or a
  // button: Disable All answered No or Yes, Enable All; and the images after.
  enum { None = -1, DisableAllNo = -2, DisableAllYes = -3, EnableAll = -4 };
  const std::pair<int, std::vector<int>> steps[] = {
      {None, {0, 0, 2, 2, 3}},  // the wavetable output is off by default
      {0, {1, 0, 2, 2, 3}},            {0, {0, 0, 2, 2, 3}},             {4, {0, 0, 2, 2, 2}},
      {DisableAllNo, {0, 0, 2, 2, 2}}, {DisableAllYes, {1, 1, 3, 3, 3}}, {EnableAll, {0, 0, 2, 2, 2}},
      {4, {0, 0, 2, 2, 3}}};
  for (const auto& [step, images] : steps) {
    if (step >= 0) {
      DoubleClickItem(list, program, step);
    } else if (step == EnableAll) {
      Click(GetDlgItem(ports, EnableAllId));
    } else if (step != None) {
      Click(GetDlgItem(ports, DisableAllId));
      const std::optional<Box> box = WaitForBox(program.Id());
      ExpectBox(box, texts::DisableAllCaption, texts::DisableAllText, {IDYES, IDNO}, sheet);
      if (box) Answer(*box, step == DisableAllYes ? IDYES : IDNO);
    }
    ExpectPorts(list, program, images);
    if (step == None) Screenshot("ports-page");
  }
  EXPECT_FALSE(WaitForBox(program.Id(), 0).has_value()) << "Enable All asks nothing";
  ASSERT_NE(ShowPage(sheet, 0, L"Flash"), nullptr);
}

// From MIDI start to the sheet's end, with the Ports page visited between
// when `ports` is given.
void FlashOnce(const World& world, const std::function<void(HWND, const Program&)>& ports = nullptr) {
  const Program program = Program::Start();
  ASSERT_TRUE(program.Started());
  ProgressWatcher watcher(program.Id());
  const HWND sheet = WaitForSheet(program);
  ASSERT_NE(sheet, nullptr);
  const HWND flash = Page(sheet, L"Flash");
  ASSERT_NE(flash, nullptr);
  const HWND list = GetDlgItem(flash, DeviceListId);
  const HWND details = GetDlgItem(flash, DetailsId);
  const auto lines = [&] { return ComboLines(list); };
  // The list is asked only once MIDI start's window has gone, so that the
  // watcher never waits on the busy user-interface thread.
  EXPECT_TRUE(watcher.WaitUntil([&] { return !watcher.AnyOpen() && !lines().empty(); }, MidiStartTimeoutMs));
  EXPECT_EQ(lines(), (std::vector<ComboLine>{{texts::NoDevicesLine, 0}}));
  EXPECT_EQ(Text(details), "");
  if (ports) ports(sheet, program);

  // Start Flash on the placeholder does nothing.
  Click(GetDlgItem(flash, StartFlashId));
  watcher.WaitUntil([] { return false; }, NothingHappensMs);
  EXPECT_FALSE(WaitForBox(program.Id(), 0).has_value());

  const std::size_t scanWindow = watcher.Count();
  const auto scan = [&] {
    const std::size_t before = watcher.Count();
    Click(GetDlgItem(flash, ScanId));
    if (world.loopback) {
      std::optional<Box> box;
      watcher.WaitUntil([&] { return (box = WaitForBox(program.Id(), 0)).has_value(); }, ScanTimeoutMs);
      ExpectBox(box, texts::AmbiguousCaption, texts::AmbiguousText, {IDOK}, sheet);
      if (box) Answer(*box, IDOK);
    }
    watcher.WaitUntil([&] { return watcher.Count() > before && !watcher.AnyOpen(); }, ScanTimeoutMs);
    Settle(program);
  };
  scan();
  ASSERT_GT(watcher.Count(), scanWindow) << "the scan showed a progress window";
  EXPECT_EQ(watcher.Texts(scanWindow), world.scanned);
  const std::vector<ComboLine> found = lines();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].first, "Tarvonic[41] V1.90 at " + world.input + " Ch 1");
  EXPECT_NE(found[0].second, 0) << "the line carries its device";
  EXPECT_EQ(Text(details), "Device Tarvonic V1.90\r\nMIDI-Input: " + world.input + "\r\nMIDI-Output: " +
                               world.output + "\r\nUpdate to Version 1.91");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(flash, StartFlashId)));
  Screenshot("device-found");

  Click(GetDlgItem(flash, StartFlashId));
  const std::optional<Box> ready = WaitForBox(program.Id());
  ExpectBox(ready, texts::ReadyCaption, Formatted(texts::ReadyFormat), {IDOK, IDCANCEL}, nullptr);
  ASSERT_TRUE(ready.has_value());
  // The page stays usable under the flash's box; Scan and Start Flash must
  // leave the flash's device alone.
  const std::size_t windowsUnderBox = watcher.Count();
  Click(GetDlgItem(flash, ScanId));
  Click(GetDlgItem(flash, StartFlashId));
  watcher.WaitUntil([] { return false; }, NothingHappensMs);
  EXPECT_EQ(watcher.Count(), windowsUnderBox) << "nothing started under the flash's box";
  const std::optional<Box> still = WaitForBox(program.Id(), 0);
  EXPECT_TRUE(still && still->handle == ready->handle) << "still the one box";
  EXPECT_EQ(lines(), found);

  // The texts of the last window that showed `text`.
  const auto textsShowing = [&](const std::string& text) {
    for (std::size_t i = watcher.Count(); i-- > 0;) {
      if (std::find(watcher.Texts(i).begin(), watcher.Texts(i).end(), text) != watcher.Texts(i).end())
        return watcher.Texts(i);
    }
    return Texts{};
  };
  ASSERT_TRUE(Answer(*ready, IDOK));
  if (world.unplugged) {
    // The interface goes a few packets in: one box on the page, which is
    // usable again after it; scans find the instrument once it is back.
    std::optional<Box> lost;
    watcher.WaitUntil([&] { return (lost = WaitForBox(program.Id(), 0)).has_value(); }, UploadTimeoutMs);
    ASSERT_TRUE(lost.has_value());
    EXPECT_EQ(lost->caption, texts::ConnectionLostCaption);
    EXPECT_NE(lost->text.find("The MIDI port \"MIDI Interface A "), std::string::npos) << lost->text;
    EXPECT_EQ(lost->owner, sheet) << "owned by the page, so by its sheet";
    Screenshot("connection-lost");
    ASSERT_TRUE(Answer(*lost, IDOK));
    const auto foundAgain = [&] { return lines().size() == 1 && lines()[0].first == found[0].first; };
    const DWORD since = GetTickCount();
    do scan();
    while (!foundAgain() && GetTickCount() - since < ScanTimeoutMs);
    ASSERT_TRUE(foundAgain()) << "the instrument is found again once its interface is back";
    Click(GetDlgItem(flash, StartFlashId));
    const std::optional<Box> again = WaitForBox(program.Id());
    ExpectBox(again, texts::ReadyCaption, Formatted(texts::ReadyFormat), {IDOK, IDCANCEL}, nullptr);
    ASSERT_TRUE(again && Answer(*again, IDOK));
  }
  DWORD writingSince = 0;
  bool shot = false;
  std::optional<Box> complete;
  watcher.WaitUntil([&] {
    if (writingSince == 0 && !textsShowing("Writing Sections...").empty()) writingSince = GetTickCount();
    if (!shot && writingSince != 0 && GetTickCount() - writingSince >= world.uploadShotAfterMs) {
      shot = true;
      Screenshot("uploading");
    }
    return (complete = WaitForBox(program.Id(), 0)).has_value();
  }, UploadTimeoutMs);
  EXPECT_EQ(textsShowing("Erasing Flash..."), (Texts{"Erasing Flash...", "Writing Sections...", "Restarting..."}));
  EXPECT_FALSE(watcher.AnyOpen());
  ExpectBox(complete, texts::CompleteCaption, Formatted(texts::CompleteFormat), {IDOK}, nullptr);
  ASSERT_TRUE(complete.has_value());
  Screenshot("upload-complete");
  EXPECT_TRUE(Answer(*complete, IDOK));
  if (!world.unplugged) {
    EXPECT_EQ(lines(), found) << "the list is not refreshed after a flash";
  }

  Click(SheetButton(sheet, L"Cancel"));
  EXPECT_EQ(program.WaitForExit(), DWORD{0});
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// KF_WINE_MIDI names the file the driver writes the instrument's firmware
// to (firmware=PATH, the last setting), and the world the flash meets
// (an unplug and replug among it); KF_PLAIN_FIRMWARE the image's.
TEST(Flash, ShippedProgramThroughWinmm) {
  const char* settings = std::getenv("KF_WINE_MIDI");
  const char* plain = std::getenv("KF_PLAIN_FIRMWARE");
  ASSERT_TRUE(settings != nullptr && plain != nullptr);
  const std::string firmware = std::string(settings).substr(std::string(settings).find("firmware=") + 9);
  std::remove(firmware.c_str());
  FlashOnce({"MIDI Interface A In", "MIDI Interface A Out", {"MIDI Interface A Out", "Loopback MIDI Out"}, true, 50000,
             std::string(settings).find("unplug=") != std::string::npos},
            [](HWND sheet, const Program& program) { TogglePorts(sheet, program); });
  const std::string expected = Contents(plain);
  EXPECT_FALSE(expected.empty());
  EXPECT_TRUE(Contents(firmware) == expected) << "the instrument's firmware is the image's";
}

TEST(Flash, SimulatedBuild) { FlashOnce({"Tarvonic In", "Tarvonic Out", {"Tarvonic Out", "Desk Keyboard Out"}, false, 1500}); }

}  // namespace
}  // namespace robot
