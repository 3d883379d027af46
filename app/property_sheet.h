// The application's only top-level window: a modal property sheet whose pages
// come from a fixed table, in tab order.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <cstdint>

struct PageDescriptor {
  std::uint32_t templateId;         // dialog resource id; only the low 16 bits count
  DLGPROC dialogProc;               // none: DefaultPageProc
  const DLGTEMPLATE* dialogTemplate;  // set by CreatePropertyPage when found
  HPROPSHEETPAGE pageHandle;        // set by CreatePropertyPage
};

inline constexpr int PageCount = 2;
inline constexpr int CaptionBufferSize = 256;

// Flash, then Ports.
extern PageDescriptor PageTable[PageCount];

// Creates the pages, shows the modal sheet and returns when the user has
// closed it. A page whose template is missing is left out; without any page
// no sheet is shown.
void RunPropertySheet();

// Fills the descriptor's template and page handle and returns the handle.
// Without a template the page cannot be built: none is returned and the
// descriptor keeps none in both fields.
HPROPSHEETPAGE CreatePropertyPage(PageDescriptor& descriptor);

// The dialog template with that id from the program's own module, or none.
const DLGTEMPLATE* LoadDialogTemplate(std::uint32_t id);

// For a page that has no procedure of its own: accepts WM_INITDIALOG and
// leaves every other message to the dialog manager.
INT_PTR CALLBACK DefaultPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
