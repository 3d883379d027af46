// The Win32 progress view. Each ProgressWindow gets a thread that registers
// the class, creates, measures, places and shows the window, signals the ready
// event and runs a message loop until the window is destroyed. The font and
// the band brush belong to that thread and are deleted when it ends.
//
// Sizes are pixels at 96 DPI, scaled to the DPI of the window's monitor: the
// window is created at the point it will be centred on, so that it starts on
// the right monitor, and when Windows moves it to a monitor of another DPI
// (WM_DPICHANGED) it makes its font anew and measures itself again.
//
// Closing races with creation: the caller may ask for the close before the
// thread has stored its window. Both sides use sequentially consistent
// atomics (the caller sets closeRequested, then reads window; the thread
// stores window, then reads closeRequested), so at least one of them sees
// the other: either the caller posts WM_CLOSE or the thread destroys the
// window it has just made. A thread that ends late still frees the record,
// through its own reference.
#include <windows.h>
#include <cstring>
#include <string_view>
#include <vector>

#include "progress/progress_layout.h"
#include "progress/progress_window.h"
#include "progress/progress_window_record.h"
#include "texts/user_texts.h"
#include "ui/progress_window_gdi.h"
#include "ui/win32_ui.h"
#include "ui/window_dpi_win32.h"

namespace ui {

// The view draws the progress layer's record with its layout.
using namespace progress;

namespace {

constexpr char ClassName[] = "SplashScreen";
constexpr COLORREF BandBlue = RGB(0, 0, 255);
constexpr COLORREF Yellow = RGB(255, 255, 0);
constexpr COLORREF Black = RGB(0, 0, 0);
constexpr std::int32_t FontHeight = 18;  // pixels at 96 DPI

HWND WindowOf(const ProgressWindow& window) { return static_cast<HWND>(window.window.load()); }

ProgressTextSize Extent(HDC dc, std::string_view text) {
  SIZE size{};
  GetTextExtentPointA(dc, text.data(), static_cast<int>(text.size()), &size);
  return {size.cx, size.cy};
}

void TextCentred(HDC dc, std::int32_t clientWidth, std::int32_t y, std::string_view text) {
  const std::int32_t x = ProgressCentredX(clientWidth, Extent(dc, text).width);
  TextOutA(dc, x, y, text.data(), static_cast<int>(text.size()));
}

void Fill(HDC dc, std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom,
          HBRUSH brush) {
  const RECT rect{left, top, right, bottom};
  FillRect(dc, &rect, brush);
}

void Paint(HWND hwnd, ProgressWindow& window) {
  gdi::PaintDc paint(hwnd);
  const HDC dc = paint.get();
  gdi::Select font(dc, static_cast<HFONT>(window.font));
  const auto band = static_cast<HBRUSH>(window.bandBrush);
  const std::int32_t w = window.clientRect.right;
  const std::int32_t h = window.lineHeight.load();
  const std::vector<std::string_view> lines = ProgressTextLines(window);
  const ProgressRows rows = ProgressRowsFor(h, window.mode, lines.size(), WindowDpi(hwnd));

  SetTextColor(dc, Yellow);
  SetBkMode(dc, TRANSPARENT);
  Fill(dc, 0, 0, w, rows.bandBottom, band);
  TextCentred(dc, w, rows.headingY, texts::ProgramName);

  SetTextColor(dc, Black);
  std::int32_t y = rows.firstLineY;
  for (std::string_view line : lines) {
    TextCentred(dc, w, y, line);
    y += h;
  }

  if (rows.hasBar) {
    const ProgressBarSpans bar = ProgressBar(w, h, window.position.load(std::memory_order_relaxed),
                                             window.total.load(std::memory_order_acquire));
    if (bar.drawn) {
      Fill(dc, bar.left, rows.barTop, bar.split, rows.barBottom, band);
      Fill(dc, bar.split, rows.barTop, bar.right, rows.barBottom,
           static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    }
  }

  if (rows.hasStatus) {
    char status[ProgressStatusSize];
    ReadProgressStatus(window, status);
    // The status is also the window's text, which the window has no caption
    // to show: screen readers and other programs read it there. Read once
    // the paint has begun, so that a newer status brings another paint.
    char shown[ProgressStatusSize] = {};
    GetWindowTextA(hwnd, shown, sizeof shown);
    if (std::strcmp(status, shown) != 0) SetWindowTextA(hwnd, status);
    const ProgressStatusLook look = ProgressStatusFor(status);
    switch (look.style) {
      case ProgressStatusStyle::Empty:
        Fill(dc, 0, rows.statusTop, w, rows.statusBottom,
             static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
        break;
      case ProgressStatusStyle::Highlight:
        Fill(dc, 0, rows.statusTop, w, rows.statusBottom, RedHighlightBrush);
        SetTextColor(dc, Yellow);
        TextCentred(dc, w, rows.statusTop, look.text);
        break;
      case ProgressStatusStyle::Plain:
        Fill(dc, 0, rows.statusTop, w, rows.statusBottom,
             static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SetTextColor(dc, Black);
        TextCentred(dc, w, rows.statusTop, look.text);
        break;
    }
  }
}

void SizeAndShow(HWND hwnd, ProgressWindow& window, ProgressPoint centre, std::uint32_t dpi);

// Every message but a handled paint or DPI change goes on to the default
// handling; a WM_CLOSE from CloseProgressWindow thus destroys the window.
LRESULT CALLBACK ProgressWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The record's address lives in the window's user data; a pointer-sized
  // slot, since a 32-bit one would cut a 64-bit address.
  auto* window = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(
                            reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams));
      break;
    case WM_SIZE:
      if (window != nullptr) {
        RECT client{};
        GetClientRect(hwnd, &client);
        window->clientRect = {client.left, client.top, client.right, client.bottom};
      }
      break;
    case WM_PAINT:
      if (window == nullptr) break;
      Paint(hwnd, *window);
      // Handled in full. The default handling would begin and end a paint of
      // its own and so validate, unpainted, whatever a SetProgressText or
      // SetProgressPosition invalidated while this paint ran: the window
      // would keep showing the old status until the next request.
      return 0;
    case WM_DPICHANGED:
      if (window == nullptr) break;
      {
        // Centred where Windows suggests, at the size the new font gives.
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        const ProgressRect rect{suggested.left, suggested.top, suggested.right, suggested.bottom};
        SizeAndShow(hwnd, *window, ProgressCentre(&rect, 0, 0), LOWORD(wParam));
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void RegisterProgressClass(HINSTANCE module) {
  WNDCLASSA wc{};
  wc.style = CS_OWNDC | CS_DBLCLKS;
  wc.lpfnWndProc = ProgressWindowProc;
  wc.hInstance = module;
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = ClassName;
  RegisterClassA(&wc);  // fails harmlessly when an earlier window registered it
}

HFONT MakeFont(std::uint32_t dpi) {
  return CreateFontA(ProgressScaled(FontHeight, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                     VARIABLE_PITCH | FF_DECORATIVE, "Times New Roman");
}

// Makes the font for `dpi` (deleting the one before), measures the heading
// and the lines with it, then sizes, places and shows the window.
void SizeAndShow(HWND hwnd, ProgressWindow& window, ProgressPoint centre, std::uint32_t dpi) {
  const gdi::Object<HFONT> previous(static_cast<HFONT>(window.font));
  window.font = MakeFont(dpi);
  std::vector<ProgressTextSize> sizes;
  {
    gdi::WindowDc dc(hwnd);
    gdi::Select selected(dc.get(), static_cast<HFONT>(window.font));
    sizes.push_back(Extent(dc.get(), texts::ProgramName));
    for (std::string_view line : ProgressTextLines(window)) sizes.push_back(Extent(dc.get(), line));
  }
  const ProgressMeasure measure = MeasureProgressTexts(sizes);
  window.lineHeight.store(measure.lineHeight);
  const ProgressTextSize size =
      ProgressWindowSize(measure, window.mode, SystemMetricForDpi(SM_CXDLGFRAME, dpi),
                         SystemMetricForDpi(SM_CYDLGFRAME, dpi));
  const ProgressPoint origin = ProgressWindowOrigin(centre, size);
  SetWindowPos(hwnd, HWND_TOPMOST, origin.x, origin.y, size.width, size.height, SWP_SHOWWINDOW);
}

DWORD RunProgressWindow(ProgressWindow& window) {
  const auto module = static_cast<HINSTANCE>(window.module);
  RegisterProgressClass(module);
  gdi::Object<HBRUSH> band(CreateSolidBrush(BandBlue));
  window.bandBrush = band.get();

  ProgressRect ownerRect{};
  const ProgressRect* centreOn = nullptr;
  if (window.owner != nullptr) {
    RECT rect{};
    GetWindowRect(static_cast<HWND>(window.owner), &rect);
    ownerRect = {rect.left, rect.top, rect.right, rect.bottom};
    centreOn = &ownerRect;
  }
  const ProgressPoint centre =
      ProgressCentre(centreOn, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));

  const HWND hwnd =
      CreateWindowExA(WS_EX_TOPMOST | WS_EX_WINDOWEDGE, ClassName, "", WS_POPUP | WS_DLGFRAME,
                      centre.x, centre.y, 1, 1, nullptr, nullptr, module, &window);
  DWORD exitCode = 1;
  if (hwnd != nullptr) {
    window.window.store(hwnd);
    if (!window.closeRequested.load()) {
      SizeAndShow(hwnd, window, centre, WindowDpi(hwnd));
    } else {
      DestroyWindow(hwnd);  // closed before it was shown: nothing to show
    }
    exitCode = 0;
  }
  SetEvent(static_cast<HANDLE>(window.ready));
  if (hwnd != nullptr) {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    window.window.store(nullptr);
  }
  // The window is gone, so nothing paints with these any more.
  const gdi::Object<HFONT> font(static_cast<HFONT>(window.font));
  window.font = nullptr;
  window.bandBrush = nullptr;
  return exitCode;
}

DWORD WINAPI ProgressWindowThread(LPVOID parameter) {
  auto* window = static_cast<ProgressWindow*>(parameter);
  const DWORD exitCode = RunProgressWindow(*window);
  // The thread's reference: the last thing it does with the record.
  ReleaseProgressWindowRecord(window);
  return exitCode;
}

class Win32View final : public platform::ProgressView {
 public:
  bool Start(ProgressWindow& window) override {
    gdi::Handle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (ready.get() == nullptr) return false;  // nothing could signal the open
    window.ready = ready.release();
    window.thread = CreateThread(nullptr, 0, ProgressWindowThread, &window, 0, nullptr);
    return window.thread != nullptr;
  }

  void WaitReady(ProgressWindow& window, std::uint32_t timeoutMs) override {
    WaitForSingleObject(static_cast<HANDLE>(window.ready), timeoutMs);
  }

  void Repaint(ProgressWindow& window, platform::ProgressChange) override {
    if (const HWND hwnd = WindowOf(window)) InvalidateRect(hwnd, nullptr, FALSE);
  }

  bool Finish(ProgressWindow& window, std::uint32_t timeoutMs) override {
    window.closeRequested.store(true);
    if (const HWND hwnd = WindowOf(window)) PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return WaitForSingleObject(static_cast<HANDLE>(window.thread), timeoutMs) == WAIT_OBJECT_0;
  }

  void Release(ProgressWindow& window) override {
    gdi::Handle thread(static_cast<HANDLE>(window.thread));
    gdi::Handle ready(static_cast<HANDLE>(window.ready));
    window.thread = nullptr;
    window.ready = nullptr;
  }
};

}  // namespace

platform::ProgressView& Win32ProgressView() {
  static Win32View view;
  return view;
}

}  // namespace ui
