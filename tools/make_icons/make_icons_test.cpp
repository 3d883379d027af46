// The icon files are read back with a decoder written here from the file
// format, independently of the encoder, and compared pixel by pixel. What the
// drawings look like is pinned by the committed icons (check_icons.cmake).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tools/make_icons/canvas.h"
#include "tools/make_icons/ico_file.h"
#include "tools/make_icons/pictures.h"

namespace make_icons {
namespace {

std::uint32_t U16(const std::vector<std::uint8_t>& b, size_t at) {
  return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8);
}
std::uint32_t U32(const std::vector<std::uint8_t>& b, size_t at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}

struct DecodedImage {
  int width = 0, height = 0, colourCount = 0, bitCount = 0;
  std::vector<std::uint8_t> pixels;  // palette index, or Transparent where the mask is set
};

// Reads an ICO file the way a resource compiler and LoadImage do: directory,
// entries, and per image the info header, palette, colour bits and mask.
std::vector<DecodedImage> Decode(const std::vector<std::uint8_t>& file) {
  std::vector<DecodedImage> images;
  EXPECT_EQ(U16(file, 0), 0u);
  EXPECT_EQ(U16(file, 2), 1u);
  const std::uint32_t count = U16(file, 4);
  std::uint32_t expectedOffset = 6 + 16 * count;
  for (std::uint32_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 16 * i;
    DecodedImage image;
    image.width = file.at(entry);
    image.height = file.at(entry + 1);
    image.colourCount = file.at(entry + 2);
    EXPECT_EQ(file.at(entry + 3), 0);
    EXPECT_EQ(U16(file, entry + 4), 1u);
    image.bitCount = static_cast<int>(U16(file, entry + 6));
    const std::uint32_t size = U32(file, entry + 8);
    const std::uint32_t offset = U32(file, entry + 12);
    EXPECT_EQ(offset, expectedOffset) << "images follow each other without gaps";
    expectedOffset += size;

    EXPECT_EQ(U32(file, offset), 40u);
    EXPECT_EQ(U32(file, offset + 4), static_cast<std::uint32_t>(image.width));
    EXPECT_EQ(U32(file, offset + 8), static_cast<std::uint32_t>(2 * image.height));
    EXPECT_EQ(U16(file, offset + 12), 1u);
    EXPECT_EQ(U16(file, offset + 14), 4u);
    EXPECT_EQ(U32(file, offset + 16), 0u);
    for (int c = 0; c < PaletteSize; ++c) {
      const size_t quad = offset + 40 + 4 * static_cast<size_t>(c);
      EXPECT_EQ(file.at(quad), Palette[c].b);
      EXPECT_EQ(file.at(quad + 1), Palette[c].g);
      EXPECT_EQ(file.at(quad + 2), Palette[c].r);
    }
    const size_t colourRow = static_cast<size_t>((image.width * 4 + 31) / 32 * 4);
    const size_t maskRow = static_cast<size_t>((image.width + 31) / 32 * 4);
    const size_t colourBits = offset + 40 + 64;
    const size_t maskBits = colourBits + colourRow * static_cast<size_t>(image.height);
    EXPECT_EQ(maskBits + maskRow * static_cast<size_t>(image.height), offset + size);
    image.pixels.resize(static_cast<size_t>(image.width * image.height));
    for (int y = 0; y < image.height; ++y) {
      const size_t fileRow = static_cast<size_t>(image.height - 1 - y);  // bottom-up
      for (int x = 0; x < image.width; ++x) {
        const std::uint8_t pair = file.at(colourBits + fileRow * colourRow + static_cast<size_t>(x / 2));
        const std::uint8_t colour = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
        const bool masked =
            file.at(maskBits + fileRow * maskRow + static_cast<size_t>(x / 8)) & (0x80 >> (x % 8));
        if (masked) {
          EXPECT_EQ(colour, 0) << "a transparent pixel must not tint the screen";
        }
        image.pixels[static_cast<size_t>(y * image.width + x)] = masked ? std::uint8_t{Transparent} : colour;
      }
    }
    images.push_back(image);
  }
  EXPECT_EQ(expectedOffset, file.size());
  return images;
}

// A canvas in which every pixel differs from its neighbours, transparent ones
// included, so that a swapped nibble, row or mask bit shows up.
Canvas Pattern(int width, int height) {
  Canvas canvas(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      canvas.Set(x, y, static_cast<std::uint8_t>((x * 7 + y * 3) % (PaletteSize + 1)));
  return canvas;
}

TEST(IconFile, RoundTripsEverySizeItIsGiven) {
  struct Case {
    const char* name;
    std::vector<Canvas> images;
  };
  const Case cases[] = {
      {"one 16 x 16", {Pattern(16, 16)}},
      {"32 then 16, order kept", {Pattern(32, 32), Pattern(16, 16)}},
      {"odd width pads rows", {Pattern(5, 3)}},
      {"wider than one mask word", {Pattern(40, 2)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<DecodedImage> decoded = Decode(EncodeIcon(c.images));
    ASSERT_EQ(decoded.size(), c.images.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
      EXPECT_EQ(decoded[i].width, c.images[i].width);
      EXPECT_EQ(decoded[i].height, c.images[i].height);
      EXPECT_EQ(decoded[i].colourCount, 16);
      EXPECT_EQ(decoded[i].bitCount, 4);
      EXPECT_EQ(decoded[i].pixels, c.images[i].pixels);
    }
  }
}

TEST(IconFile, RefusesSizesTheDirectoryCannotHold) {
  const std::vector<Canvas> tooWide = {Canvas(256, 16)};
  const std::vector<Canvas> empty = {Canvas(0, 16)};
  EXPECT_TRUE(EncodeIcon(tooWide).empty());
  EXPECT_TRUE(EncodeIcon(empty).empty());
}

}  // namespace
}  // namespace make_icons
