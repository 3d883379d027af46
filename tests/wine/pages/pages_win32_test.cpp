// The Flash and Ports pages as real dialogs in this process, built from the
// program's own templates, with made-up devices and ports: what the robot
// cannot set up through the simulated build (several devices, a USB
// interface, icons answered through the dialog manager).
#include <windows.h>
#include <commctrl.h>
#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/property_sheet.h"
#include "device/device_records.h"
#include "image/firmware_image.h"
#include "midi/transport_records.h"
#include "platform/services.h"
#include "resources/resource.h"
#include "ui/win32_ui.h"

using namespace image;
using namespace midi;
using namespace device;
using namespace ui;

namespace {

const ModelDescriptor Tarvonic = {0x41, "Tarvonic", nullptr};
const ModelDescriptor Unknown = {0x00, "Unknown", nullptr};

class PagesTest : public ::testing::Test {
 protected:
  const HINSTANCE ModuleInstance = GetModuleHandleA(nullptr);
  void SetUp() override {
    platform::Install({.module = ModuleInstance});
    InitCommonControls();
    ASSERT_TRUE(LoadFirmwareImage(ModuleInstance));
    host_ = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                            ModuleInstance, nullptr);
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    if (page_ != nullptr) DestroyWindow(page_);
    DestroyWindow(host_);
    DeviceList = nullptr;
    PortList = nullptr;
  }

  HWND CreatePage(int templateId, DLGPROC procedure) {
    page_ = CreateDialogIndirectParamA(ModuleInstance, LoadDialogTemplate(templateId), host_,
                                       procedure, 0);
    return page_;
  }

  MidiPort& AddPort(bool input, std::uint32_t index, const char* name, std::uint16_t mid = 0,
                    std::uint16_t pid = 0, bool enabled = true) {
    MidiPort& port = ports_.emplace_back();
    port.device = input ? index : index | PortOutputMark;
    port.flags.store((input ? PortInput : 0) | (enabled ? PortEnabled : 0));
    port.caps.in.wMid = mid;
    port.caps.in.wPid = pid;
    lstrcpynA(port.caps.in.szPname, name, sizeof port.caps.in.szPname);
    MidiPort** link = &PortList;
    while (*link != nullptr) link = &(*link)->next;
    *link = &port;
    return port;
  }

  DetectedDevice& AddDevice(const ModelDescriptor& model, std::uint8_t channel, const char* version,
                            MidiPort& input, MidiPort& output) {
    DetectedDevice& device = devices_.emplace_back();
    device.modelId = model.id == 0 ? 0x2B : model.id;
    device.channel = channel;
    lstrcpynA(device.version, version, sizeof device.version);
    device.model = &model;
    device.inputPort = &input;
    device.outputPort = &output;
    DetectedDevice** link = &DeviceList;
    while (*link != nullptr) link = &(*link)->next;
    *link = &device;
    return device;
  }

  std::vector<std::pair<std::string, LRESULT>> ComboLines() const {
    std::vector<std::pair<std::string, LRESULT>> lines;
    const HWND combo = GetDlgItem(page_, IDC_DEVICE_LIST);
    const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      char text[256] = {};
      SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      lines.emplace_back(text, SendMessageA(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0));
    }
    return lines;
  }
  std::string Details() const {
    char text[1024] = {};
    GetDlgItemTextA(page_, IDC_DEVICE_DETAILS, text, sizeof text);
    return text;
  }
  bool StartFlashEnabled() const { return IsWindowEnabled(GetDlgItem(page_, IDC_START_FLASH)) != FALSE; }
  void Select(int line) {
    const HWND combo = GetDlgItem(page_, IDC_DEVICE_LIST);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(line), 0);
    SendMessageA(page_, WM_COMMAND, MAKEWPARAM(IDC_DEVICE_LIST, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
  }

  struct Item {
    std::string text;
    int image;
    bool operator==(const Item&) const = default;
  };
  std::vector<Item> PortItems() const {
    std::vector<Item> items;
    const HWND list = GetDlgItem(page_, IDC_PORT_LIST);
    const LRESULT count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      char text[256] = {};
      LVITEMA item = {};
      item.mask = LVIF_TEXT | LVIF_IMAGE;
      item.iItem = static_cast<int>(i);
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
      items.push_back({item.pszText, item.iImage});
    }
    return items;
  }
  void DoubleClickNotice(int item) {
    NMITEMACTIVATE notice = {};
    notice.hdr.hwndFrom = GetDlgItem(page_, IDC_PORT_LIST);
    notice.hdr.idFrom = IDC_PORT_LIST;
    notice.hdr.code = NM_DBLCLK;
    notice.iItem = item;
    SendMessageA(page_, WM_NOTIFY, IDC_PORT_LIST, reinterpret_cast<LPARAM>(&notice));
  }

  HWND host_ = nullptr;
  HWND page_ = nullptr;
  std::deque<MidiPort> ports_;
  std::deque<DetectedDevice> devices_;
};

TEST_F(PagesTest, SeveralDevicesAreListedAlphabeticallyAndTheFirstIsShown) {
  MidiPort& in0 = AddPort(true, 0, "Studio In");
  MidiPort& in1 = AddPort(true, 1, "USB MIDI Cable In Port Number 1", 0x0131, 0x0001);
  MidiPort& out0 = AddPort(false, 0, "Studio Out");
  MidiPort& out1 = AddPort(false, 1, "USB MIDI Cable Out Port Number 1");
  DetectedDevice& second = AddDevice(Tarvonic, 3, "1.90", in1, out1);
  DetectedDevice& unknown = AddDevice(Unknown, 15, "1.ff", in0, out0);
  DetectedDevice& first = AddDevice(Tarvonic, 0, "1.85", in0, out0);
  ASSERT_NE(CreatePage(IDD_FLASH_PAGE, FlashPageProc), nullptr);

  FillDeviceList(page_);
  const std::vector<std::pair<std::string, LRESULT>> expected = {
      {"Tarvonic[41] V1.85 at Studio In Ch 1", reinterpret_cast<LRESULT>(&first)},
      {"Tarvonic[41] V1.90 at USB MIDI Cable In P Ch 4", reinterpret_cast<LRESULT>(&second)},
      {"Unknown[2B] V1.ff at Studio In Ch 16", reinterpret_cast<LRESULT>(&unknown)},
  };
  EXPECT_EQ(ComboLines(), expected);
  EXPECT_EQ(SendMessageA(GetDlgItem(page_, IDC_DEVICE_LIST), CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(Details(), "") << "filling the list alone shows no details";

  ShowDeviceInfo(page_);
  EXPECT_EQ(Details(),
            "Device Tarvonic V1.85\r\nMIDI-Input: Studio In\r\nMIDI-Output: Studio Out\r\n"
            "Update to Version 1.91");
  EXPECT_TRUE(StartFlashEnabled());

  Select(1);
  EXPECT_EQ(Details(),
            "Device Tarvonic V1.90\r\nMIDI-Input: USB MIDI Cable In Port Number\r\n"
            "MIDI-Output: USB MIDI Cable Out Port Numbe\r\nUpdate to Version 1.91\r\n"
            "Flashing over USB not supported!");
  EXPECT_TRUE(StartFlashEnabled());

  // The note, the fifth line, is inside the box and not cut off.
  const HWND details = GetDlgItem(page_, IDC_DEVICE_DETAILS);
  ASSERT_EQ(SendMessageA(details, EM_GETLINECOUNT, 0, 0), 5);
  EXPECT_EQ(SendMessageA(details, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  RECT shown{};
  SendMessageA(details, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&shown));
  const LRESULT note = SendMessageA(details, EM_LINEINDEX, 4, 0);
  const int noteTop = static_cast<short>(HIWORD(SendMessageA(details, EM_POSFROMCHAR, note, 0)));
  const HDC dc = GetDC(details);
  const HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(details, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(details, dc);
  EXPECT_LE(noteTop + metrics.tmHeight, shown.bottom)
      << "the note's line runs from " << noteTop << " past the box's text area";
}

TEST_F(PagesTest, ANewScanWithoutDevicesShowsThePlaceholderAndClearsTheDetails) {
  MidiPort& in = AddPort(true, 0, "In");
  MidiPort& out = AddPort(false, 0, "Out");
  AddDevice(Tarvonic, 0, "1.90", in, out);
  ASSERT_NE(CreatePage(IDD_FLASH_PAGE, FlashPageProc), nullptr);
  FillDeviceList(page_);
  ShowDeviceInfo(page_);
  ASSERT_TRUE(StartFlashEnabled());
  ASSERT_NE(Details(), "");

  DeviceList = nullptr;
  FillDeviceList(page_);
  ShowDeviceInfo(page_);
  const std::vector<std::pair<std::string, LRESULT>> placeholder = {
      {"Press Scan to search for Devices", 0}};
  EXPECT_EQ(ComboLines(), placeholder);
  EXPECT_EQ(Details(), "");
  EXPECT_FALSE(StartFlashEnabled());
}

TEST_F(PagesTest, IconQueriesAreAnsweredThroughTheDialogManager) {
  SmallAppIcon = static_cast<HICON>(LoadImageA(ModuleInstance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON),
                                               IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  LargeAppIcon = static_cast<HICON>(LoadImageA(ModuleInstance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON),
                                               IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
  ASSERT_NE(SmallAppIcon, nullptr);
  ASSERT_NE(LargeAppIcon, nullptr);
  ASSERT_NE(CreatePage(IDD_FLASH_PAGE, FlashPageProc), nullptr);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(page_, WM_GETICON, ICON_SMALL, 0)), SmallAppIcon);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(page_, WM_GETICON, ICON_BIG, 0)), LargeAppIcon);
  // Not answered by the page: the default handling gives the small icon the
  // page set on itself when it was initialised.
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(page_, WM_GETICON, ICON_SMALL2, 0)), SmallAppIcon);
  SmallAppIcon = nullptr;
  LargeAppIcon = nullptr;
}

TEST_F(PagesTest, WithoutApplicationIconsThePageHasNone) {
  ASSERT_NE(CreatePage(IDD_FLASH_PAGE, FlashPageProc), nullptr);
  EXPECT_EQ(SendMessageA(page_, WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_EQ(SendMessageA(page_, WM_GETICON, ICON_BIG, 0), 0);
}

TEST_F(PagesTest, PortItemsFollowThePortsStateAndDoubleClicksToggleIt) {
  AddPort(true, 0, "In A", 0x41, 0x102);
  AddPort(false, 3, "Out B", 0xD0, 0x0100, false);
  MidiPort& inC = AddPort(true, 12, "In C");
  ASSERT_NE(CreatePage(IDD_PORTS_PAGE, PortsPageProc), nullptr);
  const std::vector<Item> atStart = {
      {"In00[0041 0102]: In A", 0}, {"In12[0000 0000]: In C", 0}, {"Out03[00D0 0100]: Out B", 3}};
  EXPECT_EQ(PortItems(), atStart);

  DoubleClickNotice(1);
  EXPECT_EQ(inC.flags.load(), PortInput);
  EXPECT_EQ(PortItems()[1], (Item{"In12[0000 0000]: In C", 1}));
  DoubleClickNotice(-1);  // no item hit
  DoubleClickNotice(7);   // no such item
  EXPECT_EQ(PortItems()[1].image, 1);
  DoubleClickNotice(1);
  EXPECT_EQ(PortItems(), atStart);

  SendMessageA(page_, WM_COMMAND, MAKEWPARAM(IDC_ENABLE_ALL, BN_CLICKED), 0);
  const std::vector<Item> allOn = {
      {"In00[0041 0102]: In A", 0}, {"In12[0000 0000]: In C", 0}, {"Out03[00D0 0100]: Out B", 2}};
  EXPECT_EQ(PortItems(), allOn);
}

TEST_F(PagesTest, APortsPageWithoutPortsIsEmpty) {
  ASSERT_NE(CreatePage(IDD_PORTS_PAGE, PortsPageProc), nullptr);
  EXPECT_TRUE(PortItems().empty());
  DoubleClickNotice(0);
  SendMessageA(page_, WM_COMMAND, MAKEWPARAM(IDC_ENABLE_ALL, BN_CLICKED), 0);
  EXPECT_TRUE(PortItems().empty());
}

}  // namespace
