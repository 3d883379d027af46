#include "tools/make_icons/pictures.h"

#include <string_view>
#include <vector>

#include "tools/make_icons/pixel_font.h"

namespace make_icons {
namespace {

constexpr int PortIconSize = 16;
constexpr int PlateTop = 9;
constexpr int PlateRight = 14;  // the plate and the socket centre on column 7
constexpr int LabelCentre = 7;

// A 5-pin DIN socket seen from the front: five pin holes on a half circle
// and the key notch at the bottom.
const std::vector<std::string_view> SocketArt = {
    "..#####..",
    ".###o###.",
    "##o###o##",
    "#########",
    "#o#####o#",
    "#########",
    "#########",
    ".#######.",
    "..##.##..",
};
constexpr int SocketLeft = 3;
constexpr double SocketCentreX = 7.5;
constexpr double SocketCentreY = 4.5;

void DrawProhibitionSign(Canvas& canvas) {
  FillRing(canvas, SocketCentreX, SocketCentreY, 3.5, 4.75, Red);
  // The bar runs from upper left to lower right, as on a traffic sign.
  FillStroke(canvas, SocketCentreX - 2.6, SocketCentreY - 2.6, SocketCentreX + 2.6,
             SocketCentreY + 2.6, 0.75, Red);
}

// A downward arrow centred on column centre `cx`: shaft from `top` down to
// `headTop`, then a head that narrows by one pixel per side and row.
void FillDownArrow(Canvas& canvas, double cx, int top, int headTop, int shaftHalf, int headHalf,
                   std::uint8_t colour) {
  const int left = static_cast<int>(cx);  // the column right of the centre line is left + 1
  for (int y = top; y < headTop; ++y) FillRect(canvas, left - shaftHalf + 1, y, left + shaftHalf, y, colour);
  for (int half = headHalf, y = headTop; half >= 1; --half, ++y)
    FillRect(canvas, left - half + 1, y, left + half, y, colour);
}

// White keys with one-pixel separators; black keys of `blackWidth` pixels sit
// on the separators, except between E-F and B-C. The keyboard starts at C.
struct Keyboard {
  int left, top;
  int whiteKeys, pitch;  // pitch: white key plus its separator
  int height, blackHeight, blackWidth;
};

void DrawKeyboard(Canvas& canvas, const Keyboard& k) {
  const int right = k.left + k.whiteKeys * k.pitch - 2;
  const int bottom = k.top + k.height - 1;
  FillRect(canvas, k.left, k.top, right, bottom, White);
  FrameRect(canvas, k.left - 1, k.top - 1, right + 1, bottom + 1, Black);
  static constexpr bool BlackAfter[] = {true, true, false, true, true, true, false};
  for (int key = 1; key < k.whiteKeys; ++key) {
    const int separator = k.left + key * k.pitch - 1;
    FillRect(canvas, separator, k.top, separator, bottom, Black);
    if (!BlackAfter[(key - 1) % 7]) continue;
    const int blackLeft = separator - k.blackWidth / 2;
    FillRect(canvas, blackLeft, k.top, blackLeft + k.blackWidth - 1, k.top + k.blackHeight - 1,
             Black);
  }
}

Canvas DrawLargeApplicationIcon() {
  Canvas canvas(32, 32);
  // The instrument: a dark blue body with a small display and two knobs.
  FillRect(canvas, 0, 12, 31, 31, DarkBlue);
  FrameRect(canvas, 0, 12, 31, 31, Black);
  FillRect(canvas, 3, 14, 14, 17, Black);
  FillRect(canvas, 4, 15, 13, 16, Green);
  FillDisc(canvas, 22.5, 16.0, 1.6, LightGray);
  FillDisc(canvas, 27.5, 16.0, 1.6, LightGray);
  DrawKeyboard(canvas, {.left = 2, .top = 20, .whiteKeys = 6, .pitch = 5, .height = 10,
                        .blackHeight = 6, .blackWidth = 3});
  // The update: a yellow arrow with a black outline coming down onto it.
  FillDownArrow(canvas, 16.0, 0, 6, 4, 9, Black);
  FillDownArrow(canvas, 16.0, 0, 7, 3, 7, Yellow);
  FillRect(canvas, 13, 0, 18, 0, Black);
  return canvas;
}

Canvas DrawSmallApplicationIcon() {
  Canvas canvas(16, 16);
  FillRect(canvas, 0, 6, 15, 15, DarkBlue);
  FrameRect(canvas, 0, 6, 15, 15, Black);
  DrawKeyboard(canvas, {.left = 3, .top = 10, .whiteKeys = 4, .pitch = 3, .height = 5,
                        .blackHeight = 3, .blackWidth = 2});
  FillDownArrow(canvas, 8.0, 0, 3, 2, 5, Black);
  FillDownArrow(canvas, 8.0, 0, 4, 1, 3, Yellow);
  FillRect(canvas, 7, 0, 8, 0, Black);
  return canvas;
}

}  // namespace

Canvas DrawApplicationIcon(int size) {
  return size == 16 ? DrawSmallApplicationIcon() : DrawLargeApplicationIcon();
}

Canvas DrawPortIcon(PortKind kind, bool enabled) {
  Canvas canvas(PortIconSize, PortIconSize);
  FillRect(canvas, 0, PlateTop, PlateRight, PortIconSize - 1, LightGray);
  FrameRect(canvas, 0, PlateTop, PlateRight, PortIconSize - 1, DarkGray);
  const std::string_view label = kind == PortKind::Input ? "In" : "Out";
  DrawText(canvas, LabelCentre - TextWidth(label) / 2, PlateTop + 1, label, Black);
  Blit(canvas, SocketLeft, 0, SocketArt, {{'#', Black}, {'o', White}});
  if (!enabled) DrawProhibitionSign(canvas);
  return canvas;
}

}  // namespace make_icons
