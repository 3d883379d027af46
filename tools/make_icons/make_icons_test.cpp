// The icon files are read back with a decoder written here from the file
// format, independently of the encoder, and compared pixel by pixel. What the
// drawings look like is pinned by the committed icons (check_icons.cmake).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tools/make_icons/canvas.h"
#include "tools/make_icons/ico_file.h"

namespace make_icons {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t U16(const Bytes& b, size_t at) { return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8); }
std::uint32_t U32(const Bytes& b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

// Reads an ICO file the way a resource compiler and LoadImage do: directory,
// entries, and per image the info header, palette, colour bits and mask.
std::vector<Canvas> Decode(const Bytes& file) {
  std::vector<Canvas> images;
  EXPECT_EQ(U32(file, 0), 0x10000u) << "reserved 0, type 1";
  std::uint32_t next = 6 + 16 * U16(file, 4);
  for (size_t entry = 6; entry < 6 + 16 * U16(file, 4); entry += 16) {
    Canvas image(file.at(entry), file.at(entry + 1));
    const size_t w = static_cast<size_t>(image.width), h = static_cast<size_t>(image.height);
    // 16 colours, one plane, 4 bits; the images follow each other without gaps.
    EXPECT_EQ(U32(file, entry + 2) & 0xFFFFFF, 16u | 1u << 16);
    EXPECT_EQ(U16(file, entry + 6), 4u);
    const std::uint32_t size = U32(file, entry + 8), at = U32(file, entry + 12);
    EXPECT_EQ(at, next);
    next += size;
    const Bytes header = {40, 0, 0, 0, std::uint8_t(w), 0, 0, 0, std::uint8_t(2 * h), 0, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(file.begin() + at, file.begin() + at + 20), header);
    for (size_t c = 0; c < PaletteSize; ++c) {
      EXPECT_EQ(file.at(at + 40 + 4 * c) | file.at(at + 41 + 4 * c) << 8 | file.at(at + 42 + 4 * c) << 16,
                Palette[c].b | Palette[c].g << 8 | Palette[c].r << 16);
    }
    const size_t colourRow = (w * 4 + 31) / 32 * 4, maskRow = (w + 31) / 32 * 4;
    const size_t colours = at + 40 + 64, mask = colours + colourRow * h;
    EXPECT_EQ(mask + maskRow * h, at + size);
    for (size_t y = 0; y < h; ++y) {
      const size_t row = h - 1 - y;  // bottom-up
      for (size_t x = 0; x < w; ++x) {
        const std::uint8_t pair = file.at(colours + row * colourRow + x / 2);
        const std::uint8_t colour = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
        const bool masked = file.at(mask + row * maskRow + x / 8) & (0x80 >> (x % 8));
        EXPECT_TRUE(!masked || colour == 0) << "a transparent pixel must not tint the screen";
        image.pixels[y * w + x] = masked ? std::uint8_t{Transparent} : colour;
      }
    }
    images.push_back(image);
  }
  EXPECT_EQ(next, file.size());
  return images;
}

// Every pixel differs from its neighbours, transparent ones included, so that
// a swapped nibble, row or mask bit shows up.
Canvas Pattern(int width, int height) {
  Canvas canvas(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) canvas.Set(x, y, static_cast<std::uint8_t>((x * 7 + y * 3) % (PaletteSize + 1)));
  return canvas;
}

TEST(IconFile, RoundTripsEverySizeItIsGivenAndRefusesWhatItCannotHold) {
  // 32 then 16 in order; an odd width pads rows; 40 is wider than a mask word.
  const std::vector<Canvas> images = {Pattern(32, 32), Pattern(16, 16), Pattern(5, 3), Pattern(40, 2)};
  const std::vector<Canvas> decoded = Decode(EncodeIcon(images));
  ASSERT_EQ(decoded.size(), images.size());
  for (size_t i = 0; i < decoded.size(); ++i) EXPECT_EQ(decoded[i].pixels, images[i].pixels) << i;
  for (const Canvas& unfit : {Canvas(256, 16), Canvas(0, 16)}) EXPECT_TRUE(EncodeIcon({&unfit, 1}).empty());
}

}  // namespace
}  // namespace make_icons
