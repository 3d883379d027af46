// The Flash page (ui/win32_ui.h).
#include "device/device_records.h"
#include "device/device_scan.h"
#include "device/flash_workflow.h"
#include "image/firmware_image.h"
#include "midi/port_registry.h"
#include "resources/resource.h"
#include "texts/user_texts.h"
#include "ui/win32_ui.h"

namespace ui {

using device::ConfirmDevelopmentImage;
using device::DescribeDevice;
using device::DetectedDevice;
using device::DeviceList;
using device::FlashWorkflowRunning;
using device::RunFlashWorkflow;
using device::ScanDevices;
using midi::MidiTransportInit;

namespace {

// MIDI is started once per process, however often the page is created.
bool MidiStartRequested = false;

HWND DeviceListControl(HWND page) { return GetDlgItem(page, IDC_DEVICE_LIST); }

// The device the selected line carries, or none (no selection, or the
// placeholder line).
DetectedDevice* SelectedDevice(HWND page) {
  const HWND list = DeviceListControl(page);
  const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return nullptr;
  const LRESULT data = SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0);
  if (data == CB_ERR || data == 0) return nullptr;
  return reinterpret_cast<DetectedDevice*>(data);
}

// A dialog procedure's result for most messages goes through DWLP_MSGRESULT;
// the handle is also returned, which the dialog manager reads as "handled".
INT_PTR AnswerIconQuery(HWND page, WPARAM which) {
  HICON icon = nullptr;
  if (which == ICON_SMALL) icon = SmallAppIcon;
  if (which == ICON_BIG) icon = LargeAppIcon;
  SetWindowLongPtrA(page, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(icon));
  return reinterpret_cast<INT_PTR>(icon);
}

INT_PTR OnInitDialog(HWND page) {
  if (!MidiStartRequested) {
    MidiStartRequested = true;
    PostMessageA(page, StartMidiMessage, 0, 0);
  }
  if (SmallAppIcon != nullptr) {
    SendMessageA(page, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(SmallAppIcon));
  }
  return 0;
}

void OnStartFlash(HWND page) {
  // Pressed under one of a running flash's boxes: that flash owns the device.
  if (FlashWorkflowRunning()) return;
  DetectedDevice* device = SelectedDevice(page);
  if (device == nullptr) return;
  // Nothing can free the device under the question: the scan waits for it.
  if (!PortsAreVirtual && !ConfirmDevelopmentImage()) return;
  RunFlashWorkflow(page, device);
}

void OnScan(HWND page) {
  // A running flash still holds a device of the last scan, and the scan
  // refuses to free it; the list stays as it is, lines and devices alike.
  if (FlashWorkflowRunning()) return;
  ScanDevices(page);
  FillDeviceList(page);
  ShowDeviceInfo(page);
}

INT_PTR OnCommand(HWND page, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case IDC_DEVICE_LIST:
      if (HIWORD(wParam) == CBN_SELCHANGE) ShowDeviceInfo(page);
      return 1;
    case IDC_START_FLASH:
      OnStartFlash(page);
      return 0;
    case IDC_SCAN:
      OnScan(page);
      return 0;
    default:
      return 0;
  }
}

INT_PTR OnStartMidi(HWND page) {
  if (MidiTransportInit(page) == 1) FillDeviceList(page);
  SetForegroundWindow(page);
  return 1;
}

}  // namespace

BOOL EnableDialogControl(HWND dialog, int controlId, BOOL enable) {
  return EnableWindow(GetDlgItem(dialog, controlId), enable != 0 ? TRUE : FALSE);
}

void FillDeviceList(HWND page) {
  const HWND list = DeviceListControl(page);
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  for (DetectedDevice* device = DeviceList; device != nullptr; device = device->next) {
    char line[texts::DeviceLineSize];
    texts::FormatDeviceLine(DescribeDevice(*device), line);
    // The list sorts: the result is the line's sorted position.
    const LRESULT position = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    if (position == CB_ERR || position == CB_ERRSPACE) continue;  // not listed
    SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(position),
                 reinterpret_cast<LPARAM>(device));
  }
  if (DeviceList == nullptr) {
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts::NoDevicesLine));
  }
  // Selecting sends no CBN_SELCHANGE: the caller shows the details if wanted.
  SendMessageA(list, CB_SETCURSEL, 0, 0);
}

void ShowDeviceInfo(HWND page) {
  const DetectedDevice* device = SelectedDevice(page);
  if (device == nullptr) {
    // Details of a device the last scan did not find again would mislead.
    SetDlgItemTextA(page, IDC_DEVICE_DETAILS, "");
    EnableDialogControl(page, IDC_START_FLASH, FALSE);
    return;
  }
  const image::FirmwareImage& loaded = image::LoadedFirmwareImage();
  char version[texts::VersionLabelSize];
  texts::FormatVersionLabel(loaded.version, loaded.development, version);
  char details[texts::DeviceDetailsSize];
  texts::FormatDeviceDetails(DescribeDevice(*device), version, details);
  SetDlgItemTextA(page, IDC_DEVICE_DETAILS, details);
  EnableDialogControl(page, IDC_START_FLASH, TRUE);
}

INT_PTR CALLBACK FlashPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_GETICON:
      return AnswerIconQuery(page, wParam);
    case WM_INITDIALOG:
      return OnInitDialog(page);
    case WM_COMMAND:
      return OnCommand(page, wParam);
    case StartMidiMessage:
      return OnStartMidi(page);
    default:
      return 0;
  }
}

}  // namespace ui
