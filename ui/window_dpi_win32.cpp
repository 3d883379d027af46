#include "ui/window_dpi_win32.h"

namespace ui {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);

struct DpiFunctions {
  GetDpiForWindowFn dpiForWindow = nullptr;
  GetSystemMetricsForDpiFn metricsForDpi = nullptr;
};

// Through void (*)(): the one function type any other converts from without
// a warning.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const DpiFunctions& Functions() {
  static const DpiFunctions functions = [] {
    DpiFunctions found;
    if (const HMODULE user32 = GetModuleHandleA("user32.dll")) {
      found.dpiForWindow = Lookup<GetDpiForWindowFn>(user32, "GetDpiForWindow");
      found.metricsForDpi = Lookup<GetSystemMetricsForDpiFn>(user32, "GetSystemMetricsForDpi");
    }
    return found;
  }();
  return functions;
}

std::uint32_t SystemDpi() {
  const HDC screen = GetDC(nullptr);
  if (screen == nullptr) return USER_DEFAULT_SCREEN_DPI;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<std::uint32_t>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

std::uint32_t WindowDpi(HWND window) {
  if (Functions().dpiForWindow != nullptr) {
    if (const UINT dpi = Functions().dpiForWindow(window); dpi != 0) return dpi;
  }
  return SystemDpi();
}

int SystemMetricForDpi(int index, std::uint32_t dpi) {
  if (Functions().metricsForDpi != nullptr) return Functions().metricsForDpi(index, dpi);
  return GetSystemMetrics(index);
}

}  // namespace ui
