// The Flash page: starts the MIDI transport once, lists what the last scan
// found, shows the selected device's details and starts the flash. Every
// handler runs on the user-interface thread; the scan and the whole flash run
// synchronously inside them.
#pragma once

#include <windows.h>

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
