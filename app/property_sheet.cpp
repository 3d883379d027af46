#include "app/property_sheet.h"

#include <cstring>

#include "image/firmware_image.h"
#include "platform/services.h"
#include "resources/resource.h"
#include "texts/user_texts.h"
#include "ui/win32_ui.h"

using ui::SmallAppIcon;

namespace {
HINSTANCE Module() { return static_cast<HINSTANCE>(platform::Installed().module); }
}  // namespace

// A page without a procedure of its own would run with DefaultPageProc.
PageDescriptor PageTable[PageCount] = {
    {IDD_FLASH_PAGE, ui::FlashPageProc, nullptr, nullptr},
    {IDD_PORTS_PAGE, ui::PortsPageProc, nullptr, nullptr},
};

INT_PTR CALLBACK DefaultPageProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

const DLGTEMPLATE* LoadDialogTemplate(std::uint32_t id) {
  HRSRC found = FindResourceA(Module(), MAKEINTRESOURCEA(id & 0xFFFF), RT_DIALOG);
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(Module(), found);
  if (loaded == nullptr) return nullptr;
  return static_cast<const DLGTEMPLATE*>(LockResource(loaded));
}

HPROPSHEETPAGE CreatePropertyPage(PageDescriptor& descriptor) {
  const DLGTEMPLATE* dialogTemplate = LoadDialogTemplate(descriptor.templateId);
  if (dialogTemplate == nullptr) return nullptr;
  descriptor.dialogTemplate = dialogTemplate;

  PROPSHEETPAGEA page = {};
  // The first layout of the structure: every comctl32 accepts it, and the
  // page uses none of the later fields.
  page.dwSize = PROPSHEETPAGEA_V1_SIZE;
  page.dwFlags = PSP_DLGINDIRECT;  // the tab shows the template's own caption
  page.hInstance = Module();
  page.pResource = dialogTemplate;
  page.pfnDlgProc = descriptor.dialogProc != nullptr ? descriptor.dialogProc : DefaultPageProc;
  page.lParam = reinterpret_cast<LPARAM>(&descriptor);
  descriptor.pageHandle = CreatePropertySheetPageA(&page);
  return descriptor.pageHandle;
}

void RunPropertySheet() {
  HPROPSHEETPAGE pages[PageCount] = {};
  UINT created = 0;
  for (PageDescriptor& descriptor : PageTable) {
    if (HPROPSHEETPAGE page = CreatePropertyPage(descriptor)) pages[created++] = page;
  }
  if (created == 0) return;

  // A missing string leaves the caption empty rather than undefined. A
  // program with the development image says so in its title, before any
  // scan shows a version.
  char caption[CaptionBufferSize] = {};
  LoadStringA(Module(), IDS_SHEET_CAPTION, caption, CaptionBufferSize);
  if (image::LoadedFirmwareImage().development) {
    std::strncat(caption, texts::DevelopmentMark, CaptionBufferSize - std::strlen(caption) - 1);
  }

  PROPSHEETHEADERA header = {};
  header.dwSize = PROPSHEETHEADERA_V1_SIZE;
  // OK and Cancel but no Apply: nothing is ever saved. Modal, no title
  // prefix, no callback.
  header.dwFlags = PSH_USEHICON | PSH_NOAPPLYNOW;
  header.hwndParent = nullptr;
  header.hInstance = Module();
  header.hIcon = SmallAppIcon;
  header.pszCaption = caption;
  header.nPages = created;
  header.nStartPage = 0;
  header.phpage = pages;
  // OK, Cancel and the close box all just end the sheet.
  PropertySheetA(&header);
}
