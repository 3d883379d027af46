// The Windows user interface as real windows in this process, under Wine in
// a display: the Flash page built from the program's own template with
// made-up devices (what the robot cannot set up: several devices, a USB
// interface), and progress windows read back pixel by pixel.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/property_sheet.h"
#include "device/device_records.h"
#include "image/firmware_image.h"
#include "platform/real_clock.h"
#include "platform/services.h"
#include "progress/progress_layout.h"
#include "progress/progress_window.h"
#include "progress/progress_window_record.h"
#include "resources/resource.h"
#include "texts/user_texts.h"
#include "ui/win32_ui.h"

using namespace device;
using namespace midi;

namespace {

const HINSTANCE Module = GetModuleHandleA(nullptr);
const ModelDescriptor Tarvonic = {0x41, "Tarvonic", nullptr};
const ModelDescriptor Unknown = {0x00, "Unknown", nullptr};

using Lines = std::vector<std::pair<std::string, LRESULT>>;

// The device list's lines and their devices, and the details box.
Lines ListLines(HWND page) {
  Lines lines;
  const HWND combo = GetDlgItem(page, IDC_DEVICE_LIST);
  for (LRESULT i = 0; i < SendMessageA(combo, CB_GETCOUNT, 0, 0); ++i) {
    char text[256] = {};
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    lines.emplace_back(text, SendMessageA(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0));
  }
  return lines;
}
std::string Details(HWND page) {
  char text[1024] = {};
  GetDlgItemTextA(page, IDC_DEVICE_DETAILS, text, sizeof text);
  return text;
}

TEST(FlashPage, ListsScannedDevicesInOrderShowsTheSelectedOneInFullAndThePlaceholderAfterAnEmptyScan) {
  platform::Install({.module = Module});
  InitCommonControls();
  ASSERT_TRUE(image::LoadFirmwareImage(Module));
  const HWND host = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, Module, nullptr);
  const HWND page = CreateDialogIndirectParamA(Module, LoadDialogTemplate(IDD_FLASH_PAGE), host, ui::FlashPageProc, 0);
  ASSERT_NE(page, nullptr);
  std::deque<MidiPort> ports;
  std::deque<DetectedDevice> devices;
  // A device on ports of its own, the input's maker and product given.
  const auto add = [&](const ModelDescriptor& model, std::uint8_t channel, const char* version, const char* input,
                       const char* output, std::uint16_t mid = 0, std::uint16_t pid = 0) -> DetectedDevice& {
    MidiPort& in = ports.emplace_back();
    MidiPort& out = ports.emplace_back();
    in.caps.in.wMid = mid;
    in.caps.in.wPid = pid;
    lstrcpynA(in.caps.in.szPname, input, sizeof in.caps.in.szPname);
    lstrcpynA(out.caps.in.szPname, output, sizeof out.caps.in.szPname);
    DetectedDevice& device = devices.emplace_back();
    device.modelId = model.id == 0 ? 0x2B : model.id;
    device.channel = channel;
    lstrcpynA(device.version, version, sizeof device.version);
    device.model = &model;
    device.inputPort = &in;
    device.outputPort = &out;
    device.next = DeviceList;
    return *(DeviceList = &device);
  };
  const DetectedDevice& first = add(Tarvonic, 0, "1.85", "Studio In", "Studio Out");
  const DetectedDevice& unknown = add(Unknown, 15, "1.ff", "Studio In", "Studio Out");
  const DetectedDevice& usb = add(Tarvonic, 3, "1.90", "USB MIDI Cable In Port Number 1",
                                  "USB MIDI Cable Out Port Number 1", 0x0131, 0x0001);
  // A scan's end: the list refilled, then the details shown.
  ui::FillDeviceList(page);
  ui::ShowDeviceInfo(page);
  EXPECT_EQ(ListLines(page), (Lines{{"Tarvonic[41] V1.85 at Studio In Ch 1", reinterpret_cast<LRESULT>(&first)},
                                    {"Tarvonic[41] V1.90 at USB MIDI Cable In P Ch 4", reinterpret_cast<LRESULT>(&usb)},
                                    {"Unknown[2B] V1.ff at Studio In Ch 16", reinterpret_cast<LRESULT>(&unknown)}}));
  EXPECT_EQ(Details(page), "Device Tarvonic V1.85\r\nMIDI-Input: Studio In\r\nMIDI-Output: Studio Out\r\n"
                           "Update to Version 1.91 (development image)");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_START_FLASH)));

  const HWND combo = GetDlgItem(page, IDC_DEVICE_LIST);
  SendMessageA(combo, CB_SETCURSEL, 1, 0);
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  EXPECT_EQ(Details(page), "Device Tarvonic V1.90\r\nMIDI-Input: USB MIDI Cable In Port Number\r\n"
                           "MIDI-Output: USB MIDI Cable Out Port Numbe\r\nUpdate to Version 1.91 (development image)\r\n"
                           "Flashing over USB not supported!");
  // The note, the fifth line, is inside the box and not cut off.
  const HWND details = GetDlgItem(page, IDC_DEVICE_DETAILS);
  ASSERT_EQ(SendMessageA(details, EM_GETLINECOUNT, 0, 0), 5);
  EXPECT_EQ(SendMessageA(details, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  RECT shown{};
  SendMessageA(details, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&shown));
  const auto top = [&](int line) {
    return static_cast<short>(HIWORD(SendMessageA(details, EM_POSFROMCHAR, SendMessageA(details, EM_LINEINDEX, line, 0), 0)));
  };
  EXPECT_LE(top(4) + (top(4) - top(3)), shown.bottom) << "the note runs past the box's text area";

  DeviceList = nullptr;  // a scan that finds nothing
  ui::FillDeviceList(page);
  ui::ShowDeviceInfo(page);
  EXPECT_EQ(ListLines(page), (Lines{{texts::NoDevicesLine, 0}}));
  EXPECT_EQ(Details(page), "");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_START_FLASH)));
  DestroyWindow(host);  // and the page with it
}

// ---- the progress window as drawn --------------------------------------------

using Colour = COLORREF;
constexpr Colour Blue = RGB(0, 0, 255), Gray = RGB(128, 128, 128), LightGray = RGB(192, 192, 192);
constexpr Colour White = RGB(255, 255, 255), Red = RGB(255, 0, 0);
bool Yellowish(Colour c) { return GetRValue(c) > 160 && GetGValue(c) > 160 && GetBValue(c) < 100; }
bool Dark(Colour c) { return GetRValue(c) < 100 && GetGValue(c) < 100 && GetBValue(c) < 100; }

// Whether any pixel of the rows [top, bottom) is ink.
template <typename Ink>
bool InkIn(HDC dc, int width, int top, int bottom, Ink ink) {
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < width; ++x) {
      if (ink(GetPixel(dc, x, y))) return true;
    }
  }
  return false;
}

struct Scene {
  std::uint32_t mode;
  const char* text;
  const char* status;
  std::uint32_t position, total;
};

class ProgressWindowDrawn : public ::testing::TestWithParam<Scene> {};

TEST_P(ProgressWindowDrawn, BandHeadingLinesBarAndStatusAndTheStatusAsItsText) {
  static platform::RealClock clock;
  platform::Install({.module = Module, .clock = &clock, .progress = &ui::Win32ProgressView()});
  if (ui::RedHighlightBrush == nullptr) ui::RedHighlightBrush = CreateSolidBrush(Red);
  const Scene& scene = GetParam();
  progress::ProgressWindow* window = progress::OpenProgressWindow(Module, scene.mode, nullptr, scene.text);
  ASSERT_NE(window, nullptr);
  progress::SetProgressPosition(window, scene.position, scene.total);
  progress::SetProgressText(window, 0, scene.status);
  Sleep(400);  // for the window's thread to paint
  const HWND hwnd = static_cast<HWND>(window->window.load());
  const HDC dc = GetDC(hwnd);
  const int w = window->clientRect.right, h = window->lineHeight.load();
  const auto lines = progress::ProgressTextLines(*window);
  const progress::ProgressRows rows = progress::ProgressRowsFor(h, scene.mode, lines.size());

  EXPECT_EQ(GetPixel(dc, 1, 1), Blue);
  EXPECT_EQ(GetPixel(dc, w - 2, rows.bandBottom - 1), Blue);
  EXPECT_NE(GetPixel(dc, 1, rows.bandBottom), Blue);
  EXPECT_TRUE(InkIn(dc, w, rows.headingY, rows.bandBottom, Yellowish)) << "the heading";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int top = rows.firstLineY + h * static_cast<int>(i);
    EXPECT_TRUE(InkIn(dc, w, top, top + h, Dark)) << lines[i];
  }
  if (rows.hasBar) {
    const progress::ProgressBarSpans bar = progress::ProgressBar(w, h, scene.position, scene.total);
    const int mid = (rows.barTop + rows.barBottom) / 2;
    EXPECT_EQ(GetPixel(dc, bar.left, mid), bar.split > bar.left ? Blue : Gray);
    EXPECT_EQ(GetPixel(dc, bar.right - 1, mid), bar.split < bar.right ? Gray : Blue);
    EXPECT_NE(GetPixel(dc, bar.right, mid), Gray);
  }
  if (rows.hasStatus) {
    const progress::ProgressStatusLook look = progress::ProgressStatusFor(scene.status ? scene.status : "");
    using Style = progress::ProgressStatusStyle;
    const Colour back = look.style == Style::Highlight ? Red : look.style == Style::Plain ? White : LightGray;
    EXPECT_EQ(GetPixel(dc, 1, rows.statusTop), back);
    EXPECT_EQ(GetPixel(dc, w - 2, rows.statusBottom - 1), back);
    // A "!" alone highlights the line without a text.
    EXPECT_EQ(InkIn(dc, w, rows.statusTop, rows.statusBottom, look.style == Style::Plain ? Dark : Yellowish),
              !look.text.empty());
    char title[progress::ProgressStatusSize] = {};
    GetWindowTextA(hwnd, title, sizeof title);
    EXPECT_STREQ(title, scene.status ? scene.status : "");
  }
  ReleaseDC(hwnd, dc);
  progress::CloseProgressWindow(window, 0);
  EXPECT_FALSE(IsWindow(hwnd));
}

INSTANTIATE_TEST_SUITE_P(Scenes, ProgressWindowDrawn,
                         testing::Values(Scene{3, texts::FlashingText, texts::RetryStatus, 1, 4},
                                         Scene{3, texts::ScanningText, "MIDI Out 2", 4, 4},
                                         Scene{3, texts::FlashingText, "!", 0, 4},
                                         Scene{2, texts::InitializingText, nullptr, 0, 0},
                                         Scene{0, texts::CheckingStateText, nullptr, 0, 0}));

}  // namespace
