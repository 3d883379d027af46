// The progress window's geometry, worked out by hand from the painting rules:
// sizes, centring, bar spans and the status line's look.
#include <gtest/gtest.h>
#include <vector>

#include "progress/progress_layout.h"

using namespace progress;

namespace {

TEST(ProgressLayout, MeasureTakesWidestSumOfHeightsAndLastHeight) {
  const std::vector<ProgressTextSize> upload = {{120, 21}, {200, 21}, {150, 22}};
  const ProgressMeasure m = MeasureProgressTexts(upload);
  EXPECT_EQ(m.widest, 200);
  EXPECT_EQ(m.total, 64);
  EXPECT_EQ(m.lineHeight, 22);  // the last line's, not the largest

  const std::vector<ProgressTextSize> headingOnly = {{120, 21}};
  const ProgressMeasure h = MeasureProgressTexts(headingOnly);
  EXPECT_EQ(h.widest, 120);
  EXPECT_EQ(h.total, 21);
  EXPECT_EQ(h.lineHeight, 21);  // no text lines: the heading's height

  const std::vector<ProgressTextSize> wideHeading = {{300, 20}, {100, 18}};
  EXPECT_EQ(MeasureProgressTexts(wideHeading).widest, 300);
}

TEST(ProgressLayout, WindowSizeByMode) {
  const ProgressMeasure m{200, 64, 22};
  struct Case {
    std::uint32_t mode;
    std::int32_t height;
  };
  // width = 200 + 2*22 + 2*3; height = 64 + 22*(1 + bar + status) + 2*4
  for (const Case c : {Case{0, 94}, Case{1, 116}, Case{2, 116}, Case{3, 138}}) {
    const ProgressTextSize size = ProgressWindowSize(m, c.mode, 3, 4);
    EXPECT_EQ(size.width, 250) << c.mode;
    EXPECT_EQ(size.height, c.height) << c.mode;
  }
}

TEST(ProgressLayout, CentreOnOwnerOrScreenTruncatesTowardZero) {
  const ProgressRect owner{100, 50, 501, 351};
  const ProgressPoint onOwner = ProgressCentre(&owner, 1024, 768);
  EXPECT_EQ(onOwner.x, 300);
  EXPECT_EQ(onOwner.y, 200);

  // An owner on a monitor left of and above the primary one.
  const ProgressRect negative{-501, -301, -100, -50};
  const ProgressPoint onNegative = ProgressCentre(&negative, 1024, 768);
  EXPECT_EQ(onNegative.x, -300);  // -601 / 2, not rounded down to -301
  EXPECT_EQ(onNegative.y, -175);

  const ProgressPoint onScreen = ProgressCentre(nullptr, 1023, 768);
  EXPECT_EQ(onScreen.x, 511);
  EXPECT_EQ(onScreen.y, 384);
}

TEST(ProgressLayout, OriginSubtractsHalvesRoundedDown) {
  const ProgressPoint origin = ProgressWindowOrigin({300, 200}, {251, 137});
  EXPECT_EQ(origin.x, 175);
  EXPECT_EQ(origin.y, 132);
  const ProgressPoint even = ProgressWindowOrigin({512, 384}, {250, 94});
  EXPECT_EQ(even.x, 387);
  EXPECT_EQ(even.y, 337);
}

TEST(ProgressLayout, HorizontalCentring) {
  EXPECT_EQ(ProgressCentredX(400, 100), 150);
  EXPECT_EQ(ProgressCentredX(400, 101), 149);
  EXPECT_EQ(ProgressCentredX(100, 105), -2);  // too wide: truncated toward zero
  EXPECT_EQ(ProgressCentredX(100, 100), 0);
}

TEST(ProgressLayout, BarSpans) {
  // W = 400, h = 18: the bar runs from 36 to 364, 328 pixels.
  struct Case {
    std::uint32_t position;
    std::uint32_t total;
    bool drawn;
    std::int32_t split;
  };
  const Case cases[] = {
      {0, 4, true, 36},   // all gray
      {1, 4, true, 118},  // a quarter: 328 / 4 = 82
      {2, 4, true, 200},  // half
      {4, 4, true, 364},  // full: up to W - 2h, no gray left
      {3, 7, true, 176},  // 984 / 7 = 140.57, truncated
      {5, 4, true, 364},  // past the total: stays inside the bar
      {0, 0, false, 36},  // no total: no bar at all
      {7, 0, false, 36},
      {168021, 336043, true, 199},      // the upload's track, about half
      {20000000, 40000000, true, 200},  // 328 * 2e7 would wrap in 32 bits
      {0xFFFFFFFFu, 0xFFFFFFFFu, true, 364},
  };
  for (const Case& c : cases) {
    const ProgressBarSpans bar = ProgressBar(400, 18, c.position, c.total);
    EXPECT_EQ(bar.drawn, c.drawn) << c.position << "/" << c.total;
    if (!c.drawn) continue;
    EXPECT_EQ(bar.left, 36);
    EXPECT_EQ(bar.split, c.split) << c.position << "/" << c.total;
    EXPECT_EQ(bar.right, 364);
  }
  // A client narrower than the margins has no room for a bar.
  EXPECT_FALSE(ProgressBar(60, 18, 1, 2).drawn);
}

TEST(ProgressLayout, RowsFollowTheModes) {
  // h = 18, three lines, bar and status line.
  const ProgressRows full = ProgressRowsFor(18, 3, 3);
  EXPECT_EQ(full.bandBottom, 21);
  EXPECT_EQ(full.headingY, 3);
  EXPECT_EQ(full.firstLineY, 24);
  EXPECT_TRUE(full.hasBar);
  EXPECT_EQ(full.barTop, 81);  // 24 + 3*18 + 3
  EXPECT_EQ(full.barBottom, 99);
  EXPECT_TRUE(full.hasStatus);
  EXPECT_EQ(full.statusTop, 102);
  EXPECT_EQ(full.statusBottom, 120);

  const ProgressRows status = ProgressRowsFor(18, 2, 1);
  EXPECT_FALSE(status.hasBar);
  EXPECT_EQ(status.statusTop, 42);  // no bar: right below the line
  EXPECT_EQ(status.statusBottom, 60);

  const ProgressRows bar = ProgressRowsFor(18, 1, 1);
  EXPECT_EQ(bar.barTop, 45);
  EXPECT_FALSE(bar.hasStatus);

  const ProgressRows plain = ProgressRowsFor(18, 0, 1);
  EXPECT_FALSE(plain.hasBar);
  EXPECT_FALSE(plain.hasStatus);

  // At 144 DPI every gap is 4.5 pixels, rounded to 5; h is the scaled font's.
  const ProgressRows large = ProgressRowsFor(27, 3, 3, 144);
  EXPECT_EQ(large.headingY, 5);
  EXPECT_EQ(large.bandBottom, 32);
  EXPECT_EQ(large.firstLineY, 37);
  EXPECT_EQ(large.barTop, 123);  // 37 + 3*27 + 5
  EXPECT_EQ(large.barBottom, 150);
  EXPECT_EQ(large.statusTop, 155);
}

// Everything painted fits the client that the window size leaves, at every
// DPI (the line height scales with the font).
TEST(ProgressLayout, PaintedRowsFitTheClient) {
  for (const std::uint32_t dpi : {96u, 120u, 144u, 192u}) {
    for (std::uint32_t mode = 0; mode < 4; ++mode) {
      for (std::size_t lines = 0; lines < 4; ++lines) {
        const std::int32_t h = ProgressScaled(18, dpi);
        std::vector<ProgressTextSize> sizes(lines + 1, ProgressTextSize{100, h});
        const ProgressMeasure m = MeasureProgressTexts(sizes);
        const std::int32_t clientHeight = ProgressWindowSize(m, mode, 0, 0).height;
        const ProgressRows rows = ProgressRowsFor(h, mode, lines, dpi);
        std::int32_t lowest = rows.firstLineY + h * static_cast<std::int32_t>(lines);
        if (rows.hasBar) lowest = rows.barBottom;
        if (rows.hasStatus) lowest = rows.statusBottom;
        EXPECT_LE(lowest, clientHeight) << dpi << " DPI, mode " << mode << ", lines " << lines;
      }
    }
  }
}

TEST(ProgressLayout, StatusLook) {
  struct Case {
    const char* status;
    ProgressStatusStyle style;
    const char* drawn;
  };
  const Case cases[] = {
      {"", ProgressStatusStyle::Empty, ""},
      {"!Retry...", ProgressStatusStyle::Highlight, "Retry..."},
      {"!Error", ProgressStatusStyle::Highlight, "Error"},
      {"!", ProgressStatusStyle::Highlight, ""},  // an empty red line
      {"MIDI Out 1", ProgressStatusStyle::Plain, "MIDI Out 1"},
      {" !not at the start", ProgressStatusStyle::Plain, " !not at the start"},
  };
  for (const Case& c : cases) {
    const ProgressStatusLook look = ProgressStatusFor(c.status);
    EXPECT_EQ(look.style, c.style) << c.status;
    EXPECT_EQ(look.text, c.drawn) << c.status;
  }
}

}  // namespace
