#include "progress/progress_layout.h"

#include <algorithm>

namespace progress {

namespace {

// One gap, 3 pixels at 96 DPI, everywhere: the heading sits a gap below the
// window's top inside a band that reaches a gap below the heading's line, the
// text lines start a gap below the band, and the bar has a gap above and
// below it.
constexpr std::int32_t Gap = 3;

std::int32_t Bit(std::uint32_t mode, std::uint32_t bit) { return (mode & bit) != 0 ? 1 : 0; }

}  // namespace

std::int32_t ProgressScaled(std::int32_t pixels, std::uint32_t dpi) {
  if (dpi == 0) dpi = ProgressDesignDpi;
  const std::int64_t scaled = std::int64_t{pixels} * dpi;
  const std::int64_t half = ProgressDesignDpi / 2;
  return static_cast<std::int32_t>((scaled >= 0 ? scaled + half : scaled - half) / ProgressDesignDpi);
}

ProgressMeasure MeasureProgressTexts(std::span<const ProgressTextSize> sizes) {
  ProgressMeasure measure{0, 0, 0};
  for (const ProgressTextSize& size : sizes) {
    measure.widest = std::max(measure.widest, size.width);
    measure.total += size.height;
    measure.lineHeight = size.height;
  }
  return measure;
}

ProgressTextSize ProgressWindowSize(const ProgressMeasure& measure, std::uint32_t mode,
                                    std::int32_t frameX, std::int32_t frameY) {
  const std::int32_t h = measure.lineHeight;
  const std::int32_t rows = 1 + Bit(mode, ProgressModeBar) + Bit(mode, ProgressModeStatus);
  return {measure.widest + 2 * h + 2 * frameX, measure.total + h * rows + 2 * frameY};
}

ProgressPoint ProgressCentre(const ProgressRect* ownerRect, std::int32_t screenWidth,
                             std::int32_t screenHeight) {
  if (ownerRect == nullptr) return {screenWidth / 2, screenHeight / 2};
  // In 64 bits: rectangles far off screen must not overflow the sum.
  const auto mid = [](std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>((std::int64_t{a} + b) / 2);
  };
  return {mid(ownerRect->left, ownerRect->right), mid(ownerRect->top, ownerRect->bottom)};
}

ProgressPoint ProgressWindowOrigin(ProgressPoint centre, ProgressTextSize size) {
  return {centre.x - size.width / 2, centre.y - size.height / 2};
}

std::int32_t ProgressCentredX(std::int32_t clientWidth, std::int32_t textWidth) {
  return (clientWidth - textWidth) / 2;
}

ProgressBarSpans ProgressBar(std::int32_t clientWidth, std::int32_t lineHeight,
                             std::uint32_t position, std::uint32_t total) {
  const std::int32_t left = 2 * lineHeight;
  const std::int32_t right = clientWidth - 2 * lineHeight;
  if (total == 0 || right < left) return {false, left, left, left};
  // The product in 64 bits: a 32-bit one wraps for tracks beyond about ten
  // megabytes and the bar would jump back. A position past the total stays
  // inside the bar.
  const std::uint64_t width = static_cast<std::uint32_t>(right - left);
  const std::uint64_t filled = std::min<std::uint64_t>(width * position / total, width);
  return {true, left, left + static_cast<std::int32_t>(filled), right};
}

ProgressRows ProgressRowsFor(std::int32_t lineHeight, std::uint32_t mode, std::size_t lineCount,
                            std::uint32_t dpi) {
  const std::int32_t h = lineHeight;
  const std::int32_t gap = ProgressScaled(Gap, dpi);
  ProgressRows rows{};
  rows.bandBottom = h + gap;
  rows.headingY = gap;
  rows.firstLineY = rows.bandBottom + gap;
  std::int32_t y = rows.firstLineY + h * static_cast<std::int32_t>(lineCount);
  rows.hasBar = (mode & ProgressModeBar) != 0;
  if (rows.hasBar) {
    rows.barTop = y + gap;
    rows.barBottom = rows.barTop + h;
    y = rows.barBottom + gap;
  }
  rows.hasStatus = (mode & ProgressModeStatus) != 0;
  if (rows.hasStatus) {
    rows.statusTop = y;
    rows.statusBottom = y + h;
  }
  return rows;
}

ProgressStatusLook ProgressStatusFor(std::string_view status) {
  if (status.empty()) return {ProgressStatusStyle::Empty, {}};
  if (status.front() == '!') return {ProgressStatusStyle::Highlight, status.substr(1)};
  return {ProgressStatusStyle::Plain, status};
}

}  // namespace progress
