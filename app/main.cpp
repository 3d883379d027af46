// The program entry. It refuses to start without a usable firmware image,
// prepares the process-wide values the pages read, runs the property sheet
// and shuts the MIDI transport down when the sheet has closed. Neither the
// command line nor the environment is read; every path returns 0.
#include <windows.h>
#include <commctrl.h>

#include "app/platform_install.h"
#include "app/property_sheet.h"
#include "device/upload_engine.h"
#include "image/firmware_image.h"
#include "midi/port_registry.h"
#include "platform/win32/system_dlls_win32.h"
#include "resources/resource.h"
#include "texts/user_texts.h"
#include "ui/win32_ui.h"

namespace {

constexpr COLORREF HighlightRed = RGB(255, 0, 0);
constexpr int LargeIconSize = 32;
constexpr int SmallIconSize = 16;

// The image must read, and the upload must be able to send all of it
// (device::CheckUploadable): a header packet to open with, and no packet
// that would stop it after the instrument has erased its flash.
bool FirmwareImageUsable(HINSTANCE instance) {
  return image::LoadFirmwareImage(instance) &&
         device::PrepareProbePacket(image::TrackBytes(image::LoadedFirmwareImage()));
}

HICON LoadApplicationIcon(HINSTANCE instance, int size) {
  return static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON), IMAGE_ICON,
                                       size, size, LR_DEFAULTCOLOR));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  win32::LoadDllsFromSystemFolderOnly();  // before anything loads a DLL by name
  InstallPlatform(instance);

  if (!FirmwareImageUsable(instance)) {
    MessageBoxA(nullptr, texts::ImageUnusableText, texts::FatalCaption, MB_OK);
    return 0;
  }

  // Common controls 6 (the manifest's) registers its classes only when asked:
  // the pages' list view, and the combo box, edit and buttons with styles.
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX),
                                     ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&classes);
  ui::RedHighlightBrush = CreateSolidBrush(HighlightRed);
  ui::LargeAppIcon = LoadApplicationIcon(instance, LargeIconSize);
  ui::SmallAppIcon = LoadApplicationIcon(instance, SmallIconSize);

  RunPropertySheet();

  midi::MidiTransportShutdown();
  return 0;
}
