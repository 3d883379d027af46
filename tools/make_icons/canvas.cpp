#include "tools/make_icons/canvas.h"

#include <algorithm>
#include <cmath>

namespace make_icons {

const Rgb Palette[PaletteSize] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF},
};

std::uint8_t Canvas::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return Transparent;
  return pixels[static_cast<size_t>(y * width + x)];
}

void Canvas::Set(int x, int y, std::uint8_t colour) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  pixels[static_cast<size_t>(y * width + x)] = colour;
}

void FillRect(Canvas& canvas, int left, int top, int right, int bottom, std::uint8_t colour) {
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) canvas.Set(x, y, colour);
}

void FrameRect(Canvas& canvas, int left, int top, int right, int bottom, std::uint8_t colour) {
  for (int x = left; x <= right; ++x) {
    canvas.Set(x, top, colour);
    canvas.Set(x, bottom, colour);
  }
  for (int y = top; y <= bottom; ++y) {
    canvas.Set(left, y, colour);
    canvas.Set(right, y, colour);
  }
}

namespace {

// Calls `paint` for every pixel whose centre satisfies `inside`.
template <typename Inside>
void FillWhere(Canvas& canvas, Inside inside, std::uint8_t colour) {
  for (int y = 0; y < canvas.height; ++y)
    for (int x = 0; x < canvas.width; ++x)
      if (inside(x + 0.5, y + 0.5)) canvas.Set(x, y, colour);
}

}  // namespace

void FillDisc(Canvas& canvas, double cx, double cy, double radius, std::uint8_t colour) {
  FillRing(canvas, cx, cy, -1.0, radius, colour);
}

void FillRing(Canvas& canvas, double cx, double cy, double inner, double outer,
              std::uint8_t colour) {
  FillWhere(
      canvas,
      [&](double px, double py) {
        double d = std::hypot(px - cx, py - cy);
        return d > inner && d <= outer;
      },
      colour);
}

void FillStroke(Canvas& canvas, double x0, double y0, double x1, double y1, double halfWidth,
                std::uint8_t colour) {
  double dx = x1 - x0, dy = y1 - y0;
  double lengthSquared = dx * dx + dy * dy;
  FillWhere(
      canvas,
      [&](double px, double py) {
        double t = lengthSquared > 0 ? ((px - x0) * dx + (py - y0) * dy) / lengthSquared : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        return std::hypot(px - (x0 + t * dx), py - (y0 + t * dy)) <= halfWidth;
      },
      colour);
}

void Blit(Canvas& canvas, int left, int top, const std::vector<std::string_view>& rows,
          const std::vector<ArtKey>& key) {
  for (size_t row = 0; row < rows.size(); ++row) {
    for (size_t column = 0; column < rows[row].size(); ++column) {
      for (const ArtKey& entry : key) {
        if (entry.symbol == rows[row][column]) {
          canvas.Set(left + static_cast<int>(column), top + static_cast<int>(row), entry.colour);
          break;
        }
      }
    }
  }
}

}  // namespace make_icons
