// The Ports page: every opened MIDI port with an icon for its kind and state.
// A double-click toggles one port, "Disable All" (after a question) and
// "Enable All" set all of them. Nothing is stored beyond the run.
#pragma once

#include <windows.h>

INT_PTR CALLBACK PortsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
