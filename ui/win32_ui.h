// The Win32 user interface the shell puts together: the two property pages,
// the progress view, and the handles the shell makes at start-up for them.
// Every page handler runs on the user-interface thread; the scan and the
// whole flash run synchronously inside them.
#pragma once

#include <windows.h>

#include "platform/progress_view.h"

namespace ui {

// Made once by the shell on the user-interface thread, before any other
// thread exists, and only read afterwards. Icons may be none.
inline HBRUSH RedHighlightBrush = nullptr;  // background of a "!" status line
inline HICON LargeAppIcon = nullptr;        // 32 x 32
inline HICON SmallAppIcon = nullptr;        // 16 x 16
// Set by a program whose MIDI ports are all virtual (the simulated build):
// its instrument may take the development image without a question. The
// shipped program's ports are real, and it asks (device::ConfirmDevelopmentImage).
inline bool PortsAreVirtual = false;

// --- the Flash page: starts the MIDI transport once, lists what the last
// scan found, shows the selected device's details and starts the flash.

// Posted by the page to itself at its first initialisation; MIDI starts when
// the sheet's message loop delivers it, with the page on screen.
inline constexpr UINT StartMidiMessage = WM_USER + 100;

INT_PTR CALLBACK FlashPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
// Refills the device list from the DeviceList and selects its first line.
void FillDeviceList(HWND page);
// Shows the selected device's details and enables Start Flash, or disables
// it (and empties the details) when no device is selected.
void ShowDeviceInfo(HWND page);
// Enables (non-zero) or disables (0) the dialog's control; returns
// EnableWindow's result.
BOOL EnableDialogControl(HWND dialog, int controlId, BOOL enable);

// --- the Ports page: every opened MIDI port with an icon for its kind and
// state. A double-click toggles one port, "Disable All" (after a question)
// and "Enable All" set all of them. Nothing is stored beyond the run.
INT_PTR CALLBACK PortsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// --- the progress view: a window of class "SplashScreen" on a thread of its
// own per ProgressWindow, so that it keeps painting while the user-interface
// thread is busy and pumps no messages. One instance for the process;
// install it as platform::Services::progress.
platform::ProgressView& Win32ProgressView();

}  // namespace ui
