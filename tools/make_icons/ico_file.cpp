#include "tools/make_icons/ico_file.h"

#include <cstddef>

namespace make_icons {
namespace {

constexpr std::uint32_t DirectorySize = 6;
constexpr std::uint32_t DirectoryEntrySize = 16;
constexpr std::uint32_t InfoHeaderSize = 40;
constexpr std::uint32_t PaletteBytes = PaletteSize * 4;
constexpr std::uint16_t BitsPerPixel = 4;

void PutU16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// Bytes per row of a bitmap with `bits` bits per pixel, padded to 32 bits.
std::uint32_t RowBytes(int width, int bits) {
  return static_cast<std::uint32_t>((width * bits + 31) / 32 * 4);
}

std::uint32_t PixelBytes(const Canvas& image) {
  auto rows = static_cast<std::uint32_t>(image.height);
  return (RowBytes(image.width, BitsPerPixel) + RowBytes(image.width, 1)) * rows;
}

void PutImage(std::vector<std::uint8_t>& out, const Canvas& image) {
  PutU32(out, InfoHeaderSize);
  PutU32(out, static_cast<std::uint32_t>(image.width));
  // An icon's height counts the colour bitmap and the mask together.
  PutU32(out, static_cast<std::uint32_t>(image.height * 2));
  PutU16(out, 1);  // planes
  PutU16(out, BitsPerPixel);
  PutU32(out, 0);  // BI_RGB
  PutU32(out, PixelBytes(image));
  PutU32(out, 0);  // horizontal resolution
  PutU32(out, 0);  // vertical resolution
  PutU32(out, 0);  // colours used: all of them
  PutU32(out, 0);  // important colours: all
  for (const Rgb& entry : Palette) {
    out.push_back(entry.b);
    out.push_back(entry.g);
    out.push_back(entry.r);
    out.push_back(0);
  }
  const std::uint32_t colourRow = RowBytes(image.width, BitsPerPixel);
  for (int y = image.height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(colourRow, 0);
    for (int x = 0; x < image.width; ++x) {
      std::uint8_t colour = image.At(x, y);
      if (colour >= PaletteSize) colour = 0;
      const int shift = (x % 2 == 0) ? 4 : 0;  // high nibble is the left pixel
      row[static_cast<size_t>(x / 2)] |= static_cast<std::uint8_t>(colour << shift);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  const std::uint32_t maskRow = RowBytes(image.width, 1);
  for (int y = image.height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(maskRow, 0);
    for (int x = 0; x < image.width; ++x) {
      if (image.At(x, y) >= PaletteSize)
        row[static_cast<size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
}

}  // namespace

std::vector<std::uint8_t> EncodeIcon(std::span<const Canvas> images) {
  std::vector<std::uint8_t> out;
  for (const Canvas& image : images) {
    if (image.width < 1 || image.width > 255 || image.height < 1 || image.height > 255 ||
        image.pixels.size() != static_cast<size_t>(image.width * image.height))
      return out;
  }
  PutU16(out, 0);  // reserved
  PutU16(out, 1);  // type: icon
  PutU16(out, static_cast<std::uint32_t>(images.size()));
  std::uint32_t offset =
      DirectorySize + DirectoryEntrySize * static_cast<std::uint32_t>(images.size());
  for (const Canvas& image : images) {
    const std::uint32_t size = InfoHeaderSize + PaletteBytes + PixelBytes(image);
    out.push_back(static_cast<std::uint8_t>(image.width));
    out.push_back(static_cast<std::uint8_t>(image.height));
    out.push_back(PaletteSize);  // colour count
    out.push_back(0);            // reserved
    PutU16(out, 1);              // planes
    PutU16(out, BitsPerPixel);
    PutU32(out, size);
    PutU32(out, offset);
    offset += size;
  }
  for (const Canvas& image : images) PutImage(out, image);
  return out;
}

}  // namespace make_icons
