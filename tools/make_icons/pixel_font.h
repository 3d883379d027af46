// A 3 x 5 pixel font, just large enough for the labels on 16-pixel icons.
#pragma once

#include <cstdint>
#include <string_view>

#include "tools/make_icons/canvas.h"

namespace make_icons {

inline constexpr int GlyphWidth = 3;
inline constexpr int GlyphHeight = 5;
inline constexpr int GlyphSpacing = 1;

// Width in pixels of `text`, one pixel of space between glyphs.
int TextWidth(std::string_view text);
// Draws `text` with its top-left corner at (left, top). Characters the font
// does not know are drawn as blanks.
void DrawText(Canvas& canvas, int left, int top, std::string_view text, std::uint8_t colour);
// True when the font has a glyph for `c`.
bool HasGlyph(char c);

}  // namespace make_icons
