// The progress window's layout where it decides rather than adds up: how far
// the bar is filled and when there is none, how the status line looks, how
// sizes round at other DPIs, and that everything painted fits the window.
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

#include "progress/progress_layout.h"

using namespace progress;

TEST(ProgressLayout, TheBarAndTheStatusLine) {
  // A client 400 wide with lines 18 high: the bar runs from 36 to 364.
  using Bar = std::tuple<bool, std::int32_t, std::int32_t, std::int32_t>;
  const std::tuple<std::uint32_t, std::uint32_t, Bar> bars[] = {
      {0, 4, {true, 36, 36, 364}},
      {1, 4, {true, 36, 118, 364}},
      {3, 7, {true, 36, 176, 364}},                // 984 / 7 = 140.57, truncated
      {5, 4, {true, 36, 364, 364}},                // past the total: stays inside the bar
      {20000000, 40000000, {true, 36, 200, 364}},  // 328 * 2e7 would wrap in 32 bits
      {7, 0, {false, 36, 36, 36}},                 // no total: no bar
  };
  for (const auto& [position, total, bar] : bars) {
    const ProgressBarSpans b = ProgressBar(400, 18, position, total);
    EXPECT_EQ(Bar(b.drawn, b.left, b.split, b.right), bar) << position << "/" << total;
  }
  EXPECT_FALSE(ProgressBar(60, 18, 1, 2).drawn) << "no room inside the margins";

  using Look = std::pair<ProgressStatusStyle, std::string_view>;
  const std::pair<const char*, Look> looks[] = {
      {"", {ProgressStatusStyle::Empty, ""}},
      {"!Retry...", {ProgressStatusStyle::Highlight, "Retry..."}},
      {" !not first", {ProgressStatusStyle::Plain, " !not first"}},
  };
  for (const auto& [status, look] : looks) {
    EXPECT_EQ(Look(ProgressStatusFor(status).style, ProgressStatusFor(status).text), look)
        << status;
  }
}

// Everything painted fits the client that the window size leaves, in every
// mode and at every DPI; sizes round halves away from zero, as MulDiv does.
TEST(ProgressLayout, PaintedRowsFitTheClientAtEveryDpi) {
  EXPECT_EQ((std::vector{ProgressScaled(3, 144), ProgressScaled(3, 120), ProgressScaled(-3, 144),
                         ProgressScaled(3, 0)}),
            (std::vector{5, 4, -5, 3}));
  for (const std::uint32_t dpi : {96u, 120u, 144u, 192u}) {
    for (std::uint32_t mode = 0; mode < 4; ++mode) {
      for (std::size_t lines = 0; lines < 4; ++lines) {
        const std::int32_t h = ProgressScaled(18, dpi);
        const std::vector<ProgressTextSize> sizes(lines + 1, ProgressTextSize{100, h});
        const auto window = ProgressWindowSize(MeasureProgressTexts(sizes), mode, 0, 0);
        const ProgressRows rows = ProgressRowsFor(h, mode, lines, dpi);
        std::int32_t lowest = rows.firstLineY + h * static_cast<std::int32_t>(lines);
        if (rows.hasBar) lowest = rows.barBottom;
        if (rows.hasStatus) lowest = rows.statusBottom;
        EXPECT_LE(lowest, window.height) << dpi << " DPI, mode " << mode << ", lines " << lines;
        EXPECT_EQ(rows.hasBar + 2 * rows.hasStatus, static_cast<int>(mode));
      }
    }
  }
}
