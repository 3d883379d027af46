#include "tools/make_icons/pixel_font.h"

#include <array>

namespace make_icons {
namespace {

struct Glyph {
  char symbol;
  std::array<std::string_view, GlyphHeight> rows;
};

// Only the letters the labels use; '#' is ink.
constexpr Glyph Glyphs[] = {
    {'I', {"###", ".#.", ".#.", ".#.", "###"}},
    {'n', {"...", "##.", "#.#", "#.#", "#.#"}},
    {'O', {".#.", "#.#", "#.#", "#.#", ".#."}},
    {'u', {"...", "#.#", "#.#", "#.#", ".##"}},
    {'t', {".#.", "###", ".#.", ".#.", ".##"}},
};

const Glyph* Find(char c) {
  for (const Glyph& glyph : Glyphs)
    if (glyph.symbol == c) return &glyph;
  return nullptr;
}

}  // namespace

bool HasGlyph(char c) { return Find(c) != nullptr; }

int TextWidth(std::string_view text) {
  if (text.empty()) return 0;
  return static_cast<int>(text.size()) * (GlyphWidth + GlyphSpacing) - GlyphSpacing;
}

void DrawText(Canvas& canvas, int left, int top, std::string_view text, std::uint8_t colour) {
  int x = left;
  for (char c : text) {
    if (const Glyph* glyph = Find(c)) {
      for (int row = 0; row < GlyphHeight; ++row)
        for (int column = 0; column < GlyphWidth; ++column)
          if (glyph->rows[row][column] == '#') canvas.Set(x + column, top + row, colour);
    }
    x += GlyphWidth + GlyphSpacing;
  }
}

}  // namespace make_icons
