// Process-wide values made once at start-up on the user-interface thread,
// before any other thread exists, and only read afterwards.
#pragma once

#include <windows.h>

extern HINSTANCE ModuleInstance;
extern HBRUSH RedHighlightBrush;  // background of a "!" status line
extern HICON LargeAppIcon;        // 32 x 32, may be none
extern HICON SmallAppIcon;        // 16 x 16, may be none
