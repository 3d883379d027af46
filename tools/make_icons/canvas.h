// A small paletted picture and the drawing primitives the icons are made of.
// Pixels hold an index into the standard 16-colour palette, or Transparent.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace make_icons {

// The standard Windows 16-colour palette, in its usual order; the icons are
// 4-bit, so every pixel is one of these.
enum Colour : std::uint8_t {
  Black, DarkRed, DarkGreen, DarkYellow, DarkBlue, DarkMagenta, DarkCyan, LightGray,
  DarkGray, Red, Green, Yellow, Blue, Magenta, Cyan, White,
  Transparent  // not a palette entry: the icon's mask shows the screen there
};

inline constexpr int PaletteSize = 16;

struct Rgb {
  std::uint8_t r, g, b;
};
extern const Rgb Palette[PaletteSize];

struct Canvas {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // row-major, top row first

  Canvas(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w * h), Transparent) {}

  std::uint8_t At(int x, int y) const;
  void Set(int x, int y, std::uint8_t colour);  // outside the canvas: ignored
};

// Inclusive rectangle.
void FillRect(Canvas& canvas, int left, int top, int right, int bottom, std::uint8_t colour);
void FrameRect(Canvas& canvas, int left, int top, int right, int bottom, std::uint8_t colour);
// Every pixel whose centre lies within `radius` of (cx, cy), in pixel units
// where pixel (x, y) has its centre at (x + 0.5, y + 0.5).
void FillDisc(Canvas& canvas, double cx, double cy, double radius, std::uint8_t colour);
// Pixels whose centre lies between the two radii.
void FillRing(Canvas& canvas, double cx, double cy, double inner, double outer,
              std::uint8_t colour);
// Pixels whose centre lies within `halfWidth` of the segment (x0,y0)-(x1,y1).
void FillStroke(Canvas& canvas, double x0, double y0, double x1, double y1, double halfWidth,
                std::uint8_t colour);
// Pixel art: one string per row, one character per pixel; `key` maps each
// character to a colour, and a character not in it leaves the pixel as it was.
struct ArtKey {
  char symbol;
  std::uint8_t colour;
};
void Blit(Canvas& canvas, int left, int top, const std::vector<std::string_view>& rows,
          const std::vector<ArtKey>& key);

}  // namespace make_icons
