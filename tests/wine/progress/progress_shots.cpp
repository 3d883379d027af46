// Opens real progress windows (the Win32 view, on real time) in modes 0, 2
// and 3, centred on the screen and on an owner window, with empty, plain and
// "!" status texts, and checks what they painted by reading their pixels back.
// After each scene it asks the surrounding script for a screenshot: it writes
// <dir>/<scene>.ready and waits for <dir>/<scene>.done. The checks are
// written to <dir>/progress-shots.log, and the last line of <dir>/result.txt
// reads "passed N failed M".
//
// Usage: kf_progress_shots <output directory, a Windows path>
#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/services.h"
#include "progress/progress_layout.h"
#include "progress/progress_window.h"
#include "progress/progress_window_record.h"
#include "texts/user_texts.h"
#include "ui/win32_ui.h"

using namespace progress;
using namespace ui;

namespace {

std::string g_dir;
FILE* g_log = nullptr;
int g_passed = 0;
int g_failed = 0;

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fputs(line, stdout);
  std::fputs("\n", stdout);
  if (g_log != nullptr) {
    std::fputs(line, g_log);
    std::fputs("\n", g_log);
    std::fflush(g_log);
  }
}

void Check(bool ok, const char* scene, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char what[400];
  std::vsnprintf(what, sizeof what, format, args);
  va_end(args);
  Log("%s %s: %s", ok ? "PASS" : "FAIL", scene, what);
  ++(ok ? g_passed : g_failed);
}

// ---- the real platform, as thin as the test needs it ------------------------

class RealClock final : public platform::Clock {
 public:
  void Sleep(std::uint32_t ms) override { ::Sleep(ms); }
  std::uint32_t TickCount() override { return GetTickCount(); }
};

class RealDialogs final : public platform::Dialogs {
 public:
  int MessageBox(platform::WindowHandle owner, const char* text, const char* caption,
                 std::uint32_t flags) override {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, flags);
  }
  void EnableWindow(platform::WindowHandle window, bool enable) override {
    ::EnableWindow(static_cast<HWND>(window), enable ? TRUE : FALSE);
  }
  bool EscapeHeld() override { return false; }
  void DiscardQueuedInput() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_PAINT) break;
    }
  }
};

// The Win32 view, with an open that does not wait for the window when asked:
// that lets a close race the window's creation. Also remembers the font of
// the last window, to see that its thread deleted it.
class ProbeView final : public platform::ProgressView {
 public:
  explicit ProbeView(platform::ProgressView& real) : real_(real) {}
  bool Start(ProgressWindow& w) override { return real_.Start(w); }
  void WaitReady(ProgressWindow& w, std::uint32_t ms) override {
    if (!skipWait) real_.WaitReady(w, ms);
  }
  void Repaint(ProgressWindow& w, platform::ProgressChange c) override { real_.Repaint(w, c); }
  bool Finish(ProgressWindow& w, std::uint32_t ms) override {
    const bool ended = real_.Finish(w, ms);
    ended ? ++finishedInTime : ++finishedLate;
    return ended;
  }
  void Release(ProgressWindow& w) override {
    ++released;
    real_.Release(w);
  }
  bool skipWait = false;
  int finishedInTime = 0;
  int finishedLate = 0;
  int released = 0;

 private:
  platform::ProgressView& real_;
};

// ---- reading pixels ------------------------------------------------------------

struct Rgb {
  int r, g, b;
};

class Pixels {
 public:
  explicit Pixels(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~Pixels() { ReleaseDC(hwnd_, dc_); }
  Rgb At(int x, int y) const {
    const COLORREF c = GetPixel(dc_, x, y);
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
  }
  bool Is(int x, int y, Rgb want) const {
    const Rgb got = At(x, y);
    return got.r == want.r && got.g == want.g && got.b == want.b;
  }
  // Leftmost and rightmost x in [top, bottom) whose pixel matches `ink`.
  template <typename Ink>
  bool InkSpan(int width, int top, int bottom, Ink ink, int& left, int& right) const {
    left = width;
    right = -1;
    for (int y = top; y < bottom; ++y) {
      for (int x = 0; x < width; ++x) {
        if (!ink(At(x, y))) continue;
        if (x < left) left = x;
        if (x > right) right = x;
      }
    }
    return right >= 0;
  }

 private:
  HWND hwnd_;
  HDC dc_;
};

constexpr Rgb Blue{0, 0, 255};
constexpr Rgb Gray{128, 128, 128};
constexpr Rgb LightGray{192, 192, 192};
constexpr Rgb White{255, 255, 255};
constexpr Rgb Red{255, 0, 0};

bool Yellowish(Rgb c) { return c.r > 160 && c.g > 160 && c.b < 100; }
bool Dark(Rgb c) { return c.r < 100 && c.g < 100 && c.b < 100; }

std::string Describe(Rgb c) {
  char text[32];
  std::snprintf(text, sizeof text, "(%d,%d,%d)", c.r, c.g, c.b);
  return text;
}

// Width of a text in the window's font, measured apart from the window.
int TextWidth(std::string_view text);

// A centred text starts at x = (W - width) / 2: its ink begins there, or a
// side bearing later, and ends within its measured width. (Under Wine the
// drawn glyphs run up to a tenth narrower than the measured extent, so the
// right edge is only checked loosely; the left edge pins the position.)
template <typename Ink>
void CheckCentredInk(const Pixels& px, const char* scene, const char* what, std::string_view text,
                     int width, int top, int bottom, Ink ink) {
  int left = 0, right = 0;
  const bool found = px.InkSpan(width, top, bottom, ink, left, right);
  Check(found, scene, "%s has ink in rows %d..%d", what, top, bottom - 1);
  if (!found) return;
  const int textWidth = TextWidth(text);
  const int x = ProgressCentredX(width, textWidth);
  Check(left >= x && left <= x + 3 && right <= x + textWidth && right >= x + textWidth * 3 / 4,
        scene, "%s centred: drawn at x = %d, %d wide in W = %d; ink %d..%d", what, x, textWidth,
        width, left, right);
}

// ---- one scene -------------------------------------------------------------------

struct Scene {
  const char* name;
  std::uint32_t mode;
  bool withOwner;
  const char* text;
  const char* status;  // none: leave the status line as opened
  std::uint32_t position;
  std::uint32_t total;
  int flurry = 0;  // rapid updates before the final ones, racing the window's paints
};

HFONT MakeFont() {
  return CreateFontA(18, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, VARIABLE_PITCH | FF_DECORATIVE,
                     "Times New Roman");
}

// A screen DC with the window's font selected, for measuring apart from the window.
class MeasureDc {
 public:
  MeasureDc() : dc_(GetDC(nullptr)), font_(MakeFont()), old_(SelectObject(dc_, font_)) {}
  ~MeasureDc() {
    SelectObject(dc_, old_);
    DeleteObject(font_);
    ReleaseDC(nullptr, dc_);
  }
  ProgressTextSize Size(std::string_view text) const {
    SIZE s{};
    GetTextExtentPointA(dc_, text.data(), static_cast<int>(text.size()), &s);
    return {s.cx, s.cy};
  }
  std::string Face() const {
    char face[64] = {};
    GetTextFaceA(dc_, sizeof face, face);
    return face;
  }

 private:
  HDC dc_;
  HFONT font_;
  HGDIOBJ old_;
};

int TextWidth(std::string_view text) { return MeasureDc().Size(text).width; }

// The outer size the window must have, measured independently with the same font.
ProgressTextSize ExpectedSize(const ProgressWindow& window) {
  const MeasureDc dc;
  std::vector<ProgressTextSize> sizes{dc.Size(texts::ProgramName)};
  for (std::string_view line : ProgressTextLines(window)) sizes.push_back(dc.Size(line));
  return ProgressWindowSize(MeasureProgressTexts(sizes), window.mode,
                            GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME));
}

void RequestScreenshot(const char* scene) {
  if (g_dir.empty()) return;
  const std::string ready = g_dir + "/" + scene + ".ready";
  const std::string done = g_dir + "/" + scene + ".done";
  if (FILE* f = std::fopen(ready.c_str(), "w")) std::fclose(f);
  for (int i = 0; i < 400; ++i) {  // up to 20 s
    if (GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    ::Sleep(50);
  }
  Log("NOTE %s: no screenshot was taken", scene);
}

void CheckPaint(const Scene& scene, const ProgressWindow& window, HWND hwnd) {
  const char* n = scene.name;
  const int w = window.clientRect.right;
  const int h = window.lineHeight.load();
  const auto lines = ProgressTextLines(window);
  const ProgressRows rows = ProgressRowsFor(h, scene.mode, lines.size());
  const Pixels px(hwnd);

  Check(px.Is(1, 1, Blue) && px.Is(w - 2, rows.bandBottom - 1, Blue), n, "band is blue: %s and %s",
        Describe(px.At(1, 1)).c_str(), Describe(px.At(w - 2, rows.bandBottom - 1)).c_str());
  Check(!px.Is(1, rows.bandBottom, Blue), n, "band ends at y = %d", rows.bandBottom);
  CheckCentredInk(px, n, "heading (yellow)", texts::ProgramName, w, rows.headingY, rows.bandBottom,
                  Yellowish);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int top = rows.firstLineY + h * static_cast<int>(i);
    std::string what = "line \"" + std::string(lines[i]) + "\" (black)";
    CheckCentredInk(px, n, what.c_str(), lines[i], w, top, top + h, Dark);
  }

  if (rows.hasBar) {
    const int mid = (rows.barTop + rows.barBottom) / 2;
    const ProgressBarSpans bar = ProgressBar(w, h, scene.position, scene.total);
    if (!bar.drawn) {
      bool any = false;
      for (int x = 0; x < w; ++x) any = any || px.Is(x, mid, Blue) || px.Is(x, mid, Gray);
      Check(!any, n, "total 0: no bar drawn");
    } else {
      if (bar.split > bar.left) {
        Check(px.Is(bar.left, mid, Blue) && px.Is(bar.split - 1, mid, Blue), n,
              "bar filled blue from x = %d to %d", bar.left, bar.split);
      }
      if (bar.split < bar.right) {
        Check(px.Is(bar.split, mid, Gray) && px.Is(bar.right - 1, mid, Gray), n,
              "bar gray from x = %d to %d", bar.split, bar.right);
      }
      Check(!px.Is(bar.left - 1, mid, Blue) && !px.Is(bar.left - 1, mid, Gray) &&
                !px.Is(bar.right, mid, Blue) && !px.Is(bar.right, mid, Gray),
            n, "bar spans exactly %d..%d (W = %d, h = %d)", bar.left, bar.right, w, h);
      Check(px.Is(bar.left, rows.barTop, Blue) || px.Is(bar.left, rows.barTop, Gray), n,
            "bar's top row is y = %d", rows.barTop);
      Check(!px.Is(bar.left, rows.barBottom, Blue) && !px.Is(bar.left, rows.barBottom, Gray), n,
            "bar ends above y = %d", rows.barBottom);
    }
  }

  if (rows.hasStatus) {
    char status[ProgressStatusSize];
    ReadProgressStatus(window, status);
    const ProgressStatusLook look = ProgressStatusFor(status);
    const int top = rows.statusTop;
    switch (look.style) {
      case ProgressStatusStyle::Empty: {
        bool uniform = true;
        for (int y = top; y < rows.statusBottom; ++y) {
          for (int x = 0; x < w; ++x) uniform = uniform && px.Is(x, y, LightGray);
        }
        Check(uniform, n, "empty status line is all light gray");
        break;
      }
      case ProgressStatusStyle::Highlight:
        Check(px.Is(1, top, Red) && px.Is(w - 2, rows.statusBottom - 1, Red), n,
              "\"!\" status line is red: %s", Describe(px.At(1, top)).c_str());
        if (look.text.empty()) {
          int l = 0, r = 0;
          Check(!px.InkSpan(w, top, rows.statusBottom, Yellowish, l, r), n,
                "\"!\" alone draws no text");
        } else {
          CheckCentredInk(px, n, "highlighted status (yellow)", look.text, w, top,
                          rows.statusBottom, Yellowish);
        }
        break;
      case ProgressStatusStyle::Plain:
        Check(px.Is(1, top, White) && px.Is(w - 2, rows.statusBottom - 1, White), n,
              "plain status line is white: %s", Describe(px.At(1, top)).c_str());
        CheckCentredInk(px, n, "plain status (black)", look.text, w, top, rows.statusBottom, Dark);
        break;
    }
  }
}

void RunScene(const Scene& scene, HWND owner) {
  const char* n = scene.name;
  const auto module = static_cast<platform::ModuleHandle>(GetModuleHandleA(nullptr));
  ProgressWindow* window =
      OpenProgressWindow(module, scene.mode, scene.withOwner ? owner : nullptr, scene.text);
  Check(window != nullptr, n, "opened");
  if (window == nullptr) return;
  const HWND hwnd = static_cast<HWND>(window->window.load());
  Check(hwnd != nullptr && IsWindowVisible(hwnd), n, "window shown when the open returns");
  if (scene.withOwner) Check(!IsWindowEnabled(owner), n, "owner disabled while open");

  for (int i = 0; i < scene.flurry; ++i) {
    SetProgressPosition(window, static_cast<std::uint32_t>(i),
                        static_cast<std::uint32_t>(scene.flurry));
    SetProgressText(window, 0, i % 3 == 0 ? "!Resync" : (i % 3 == 1 ? "" : "Block"));
  }
  if (scene.total != 0 || (scene.mode & ProgressModeBar) != 0) {
    SetProgressPosition(window, scene.position, scene.total);
  }
  if (scene.status != nullptr) SetProgressText(window, 0, scene.status);
  ::Sleep(400);  // let the window thread paint

  char className[32] = {};
  GetClassNameA(hwnd, className, sizeof className);
  Check(std::string(className) == "SplashScreen", n, "class \"%s\"", className);
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  const LONG exStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
  Check((style & (WS_POPUP | WS_DLGFRAME)) == (WS_POPUP | WS_DLGFRAME), n, "style %08lx",
        static_cast<unsigned long>(style));
  Check((exStyle & WS_EX_TOPMOST) != 0, n, "top-most (ex style %08lx)",
        static_cast<unsigned long>(exStyle));

  RECT rect{};
  GetWindowRect(hwnd, &rect);
  const ProgressTextSize size{rect.right - rect.left, rect.bottom - rect.top};
  const ProgressTextSize expected = ExpectedSize(*window);
  Check(size.width == expected.width && size.height == expected.height, n,
        "size %dx%d, expected %dx%d (h = %d)", size.width, size.height, expected.width,
        expected.height, window->lineHeight.load());
  ProgressRect ownerRect{};
  RECT o{};
  if (scene.withOwner) {
    GetWindowRect(owner, &o);
    ownerRect = {o.left, o.top, o.right, o.bottom};
  }
  const ProgressPoint centre =
      ProgressCentre(scene.withOwner ? &ownerRect : nullptr, GetSystemMetrics(SM_CXSCREEN),
                     GetSystemMetrics(SM_CYSCREEN));
  const ProgressPoint origin = ProgressWindowOrigin(centre, size);
  Check(rect.left == origin.x && rect.top == origin.y, n,
        "placed at (%ld,%ld), centred on %s (%d,%d) means (%d,%d)", rect.left, rect.top,
        scene.withOwner ? "the owner" : "the screen", centre.x, centre.y, origin.x, origin.y);

  CheckPaint(scene, *window, hwnd);
  RequestScreenshot(n);

  // The font belongs to the window thread and is gone once it has ended.
  const auto font = static_cast<HGDIOBJ>(window->font);
  Check(font != nullptr && GetObjectType(font) == OBJ_FONT, n, "font made by the window thread");
  CloseProgressWindow(window, 0);
  Check(!IsWindow(hwnd), n, "window destroyed by the close");
  Check(GetObjectType(font) == 0, n, "font deleted when the window thread ended");
  if (scene.withOwner) Check(IsWindowEnabled(owner) != FALSE, n, "owner enabled after close");
}

// Closes that race the window's creation: each must still end the thread, and
// no window may survive its close.
void RunCloseRace(ProbeView& probe) {
  const char* n = "close-race";
  const auto module = static_cast<platform::ModuleHandle>(GetModuleHandleA(nullptr));
  probe.skipWait = true;
  const int rounds = 40;
  const int releasedBefore = probe.released;
  const int lateBefore = probe.finishedLate;
  for (int i = 0; i < rounds; ++i) {
    ProgressWindow* window = OpenProgressWindow(module, 3, nullptr, "Racing the close");
    if (i % 2 == 1) ::Sleep(static_cast<DWORD>(i % 5));  // vary where the close lands
    CloseProgressWindow(window, 0);
  }
  probe.skipWait = false;
  Check(probe.finishedLate == lateBefore, n, "%d closes, every thread ended in time", rounds);
  Check(probe.released - releasedBefore == rounds, n, "%d records freed",
        probe.released - releasedBefore);
  ::Sleep(200);
  Check(FindWindowA("SplashScreen", nullptr) == nullptr, n, "no progress window left over");
}

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

HWND MakeOwner() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  wc.lpszClassName = "ProgressShotsOwner";
  RegisterClassA(&wc);
  // Off the screen's centre, so that centring on it differs from centring on the screen.
  HWND owner = CreateWindowExA(0, wc.lpszClassName, "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                               60, 561, 401, nullptr, nullptr, wc.hInstance, nullptr);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  return owner;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    g_dir = argv[1];
    g_log = std::fopen((g_dir + "/progress-shots.log").c_str(), "w");
  }
  RealClock clock;
  RealDialogs dialogs;
  ProbeView probe(Win32ProgressView());
  platform::Services services;
  services.module = GetModuleHandleA(nullptr);
  services.clock = &clock;
  services.dialogs = &dialogs;
  services.progress = &probe;
  platform::Install(services);
  RedHighlightBrush = CreateSolidBrush(RGB(255, 0, 0));

  Log("font: \"%s\", heading %d x %d pixels", MeasureDc().Face().c_str(),
      MeasureDc().Size(texts::ProgramName).width, MeasureDc().Size(texts::ProgramName).height);
  const HWND owner = MakeOwner();
  const char* upload =
      "Flashing in Progress\nDo not turn off Power or Cancel this\nApplication during the Upload!";
  const Scene scenes[] = {
      {"mode0-screen", 0, false, "Checking Device State...", nullptr, 0, 0},
      {"mode2-owner-empty", 2, true, "Initializing MIDI", nullptr, 0, 0},
      {"mode2-owner-plain", 2, true, "Initializing MIDI", "Kelmora Port 1", 0, 0},
      {"mode3-screen-quarter-retry", 3, false, upload, "!Retry...", 1, 4},
      {"mode3-owner-full-plain", 3, true, "Scanning MIDI Devices, please wait!", "MIDI Out 2", 4,
       4},
      {"mode3-screen-empty-bar-error", 3, false, upload, "!Error", 0, 4},
      {"mode3-owner-no-total-bang", 3, true, "Flashing in Progress", "!", 3, 0},
      {"mode3-screen-after-flurry", 3, false, upload, "Final status", 3, 4, 2000},
  };
  for (const Scene& scene : scenes) RunScene(scene, owner);
  RunCloseRace(probe);

  DestroyWindow(owner);
  Log("passed %d failed %d", g_passed, g_failed);
  if (!g_dir.empty()) {
    if (FILE* f = std::fopen((g_dir + "/result.txt").c_str(), "w")) {
      std::fprintf(f, "passed %d failed %d\n", g_passed, g_failed);
      std::fclose(f);
    }
  }
  if (g_log != nullptr) std::fclose(g_log);
  return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
