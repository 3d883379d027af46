// A window's DPI and the system metrics at a DPI, for windows that scale
// themselves. The per-monitor functions exist from Windows 10 (1607) on and
// are looked up at run time, so that the program still starts on older
// Windows, where the system DPI of the screen applies to every window.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ui {

// The DPI of the monitor the window is on (per-monitor aware), or the
// system's DPI where Windows cannot tell.
std::uint32_t WindowDpi(HWND window);

// GetSystemMetrics as it would be at `dpi`.
int SystemMetricForDpi(int index, std::uint32_t dpi);

}  // namespace ui
