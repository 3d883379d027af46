// The Ports page (ui/win32_ui.h).
#include <windows.h>
#include <commctrl.h>

#include "platform/services.h"
#include "resources/resource.h"
#include "texts/user_texts.h"
#include "ui/ports_page_model.h"
#include "ui/win32_ui.h"

namespace ui {

using midi::MidiPort;

namespace {

constexpr int InitialImages = 2;
constexpr int ImageGrowth = 10;
constexpr int AppendItem = 0x7FFF;  // past any existing item

// One per process, made at the page's first initialisation and never
// destroyed: the list view only borrows it (LVS_SHAREIMAGELISTS), so it
// outlives the page.
HIMAGELIST PortImages = nullptr;

HINSTANCE Module() { return static_cast<HINSTANCE>(platform::Installed().module); }

void BuildPortImages() {
  const int width = GetSystemMetrics(SM_CXSMICON);
  const int height = GetSystemMetrics(SM_CYSMICON);
  PortImages = ImageList_Create(width, height, ILC_MASK, InitialImages, ImageGrowth);
  if (PortImages == nullptr) return;  // the list shows texts without icons
  // The order of the PortImage indices.
  for (int group : {IDI_INPUT_ENABLED, IDI_INPUT_DISABLED, IDI_OUTPUT_ENABLED, IDI_OUTPUT_DISABLED}) {
    const auto icon = static_cast<HICON>(
        LoadImageA(Module(), MAKEINTRESOURCEA(group), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
    if (icon == nullptr) continue;
    ImageList_ReplaceIcon(PortImages, -1, icon);
    DestroyIcon(icon);  // the image list keeps its own copy
  }
}

HWND PortListControl(HWND page) { return GetDlgItem(page, IDC_PORT_LIST); }

void Repaint(HWND list) { InvalidateRect(list, nullptr, TRUE); }

// Text and image of every item come from the port when drawn, so the list
// always shows the port's current state.
void FillPortList(HWND page) {
  const HWND list = PortListControl(page);
  SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(PortImages));
  for (MidiPort* port : PortsInDisplayOrder()) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = AppendItem;
    item.iSubItem = 0;
    item.pszText = LPSTR_TEXTCALLBACKA;
    item.iImage = I_IMAGECALLBACK;
    item.lParam = reinterpret_cast<LPARAM>(port);
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
}

const MidiPort* PortOfItem(LPARAM data) {
  return IsListedPort(reinterpret_cast<const void*>(data)) ? reinterpret_cast<const MidiPort*>(data)
                                                           : nullptr;
}

void SupplyDisplayInfo(NMLVDISPINFOA& request) {
  const MidiPort* port = PortOfItem(request.item.lParam);
  if ((request.item.mask & LVIF_IMAGE) != 0) request.item.iImage = PortImageIndex(port);
  if ((request.item.mask & LVIF_TEXT) != 0 && request.item.pszText != nullptr &&
      request.item.cchTextMax > 0) {
    const std::span<char> text(request.item.pszText,
                               static_cast<std::size_t>(request.item.cchTextMax));
    if (port == nullptr) {
      texts::FormatPortItem(nullptr, text);
    } else {
      const texts::PortFacts facts = DescribePort(*port);
      texts::FormatPortItem(&facts, text);
    }
  }
}

void ToggleActivatedPort(const NMITEMACTIVATE& activation) {
  if (activation.iItem < 0) return;  // the double-click hit no item
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = activation.iItem;
  item.iSubItem = 0;
  const HWND list = activation.hdr.hwndFrom;
  if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return;
  if (!IsListedPort(reinterpret_cast<const void*>(item.lParam))) return;
  TogglePortEnabled(*reinterpret_cast<MidiPort*>(item.lParam));
  Repaint(list);
}

void OnNotify(const NMHDR& header) {
  switch (header.code) {
    case LVN_GETDISPINFOA:
      SupplyDisplayInfo(*reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(&header)));
      break;
    case NM_DBLCLK:
      ToggleActivatedPort(reinterpret_cast<const NMITEMACTIVATE&>(header));
      break;
    default:
      break;
  }
}

void OnDisableAll(HWND page) {
  if (MessageBoxA(page, texts::DisableAllText, texts::DisableAllCaption, MB_YESNO) != IDYES) return;
  SetAllPortsEnabled(false);
  Repaint(PortListControl(page));
}

void OnEnableAll(HWND page) {
  SetAllPortsEnabled(true);
  Repaint(PortListControl(page));
}

}  // namespace

INT_PTR CALLBACK PortsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (PortImages == nullptr) BuildPortImages();
      FillPortList(page);
      return TRUE;
    case WM_NOTIFY:
      if (lParam != 0) OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_DISABLE_ALL) OnDisableAll(page);
      if (LOWORD(wParam) == IDC_ENABLE_ALL) OnEnableAll(page);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace ui
