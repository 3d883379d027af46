// Where a progress window goes and what it paints where, as pure functions of
// the measured texts, the mode and the client width. The Win32 view draws
// with them; tests check them without a window.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "progress/progress_window.h"
#include "progress/progress_window_record.h"

namespace progress {

struct ProgressTextSize {
  std::int32_t width;
  std::int32_t height;
};

struct ProgressPoint {
  std::int32_t x;
  std::int32_t y;
};

// The heading and the text lines, measured with the window's font.
struct ProgressMeasure {
  std::int32_t widest;      // of all strings, heading included
  std::int32_t total;       // sum of all heights, heading included
  std::int32_t lineHeight;  // height of the last string measured
};

// The DPI the window's pixel sizes are given for; on a screen of another DPI
// they scale by dpi / 96, the font's height included.
inline constexpr std::uint32_t ProgressDesignDpi = 96;

// `pixels` at 96 DPI, scaled to `dpi` and rounded to the nearest pixel,
// halves away from zero as MulDiv rounds. A DPI of 0 (unknown) counts as 96.
std::int32_t ProgressScaled(std::int32_t pixels, std::uint32_t dpi);

// `sizes` holds the heading first, then every text line in order.
ProgressMeasure MeasureProgressTexts(std::span<const ProgressTextSize> sizes);

// Outer window size: one line height of margin left and right of the widest
// text, and one line each for the band's padding, the bar and the status line.
ProgressTextSize ProgressWindowSize(const ProgressMeasure& measure, std::uint32_t mode,
                                    std::int32_t frameX, std::int32_t frameY);

// Centre of the owner's window rectangle, or of the screen without owner;
// divisions truncate toward zero.
ProgressPoint ProgressCentre(const ProgressRect* ownerRect, std::int32_t screenWidth,
                             std::int32_t screenHeight);

// Top-left corner that puts a window of `size` on `centre`, halves rounded down.
ProgressPoint ProgressWindowOrigin(ProgressPoint centre, ProgressTextSize size);

// x of a text of `textWidth` centred in `clientWidth`, truncating toward zero
// (negative when the text is wider than the client).
std::int32_t ProgressCentredX(std::int32_t clientWidth, std::int32_t textWidth);

// The bar runs from 2h to W - 2h: filled (band brush) from `left` to `split`,
// gray from `split` to `right`. Not drawn when total is 0.
struct ProgressBarSpans {
  bool drawn;
  std::int32_t left;
  std::int32_t split;
  std::int32_t right;
};
ProgressBarSpans ProgressBar(std::int32_t clientWidth, std::int32_t lineHeight,
                             std::uint32_t position, std::uint32_t total);

// Vertical places of everything painted, for a client of any width; the gaps
// between the rows scale with `dpi`.
struct ProgressRows {
  std::int32_t bandBottom;  // band from y = 0 to here
  std::int32_t headingY;    // heading text top
  std::int32_t firstLineY;  // first text line top; each next one h lower
  bool hasBar;
  std::int32_t barTop;
  std::int32_t barBottom;
  bool hasStatus;
  std::int32_t statusTop;
  std::int32_t statusBottom;
};
ProgressRows ProgressRowsFor(std::int32_t lineHeight, std::uint32_t mode, std::size_t lineCount,
                            std::uint32_t dpi = ProgressDesignDpi);

// How the status line looks for a status text.
enum class ProgressStatusStyle {
  Empty,      // light gray, no text
  Highlight,  // red, yellow text without its leading "!"
  Plain,      // white, black text
};
struct ProgressStatusLook {
  ProgressStatusStyle style;
  std::string_view text;  // what is drawn
};
ProgressStatusLook ProgressStatusFor(std::string_view status);

}  // namespace progress
