// Writes .ico files with 4-bit (16-colour) images: the format the resource
// compiler embeds as an icon group, one RT_ICON per image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/make_icons/canvas.h"

namespace make_icons {

// The whole file: ICONDIR, one ICONDIRENTRY per image, then each image as a
// BITMAPINFOHEADER, the palette, the colour bits (bottom row first) and the
// 1-bit mask, every row padded to 32 bits. Transparent pixels get colour 0
// and a set mask bit, so they show the screen. Images keep the given order.
// Widths and heights must be 1 to 255 (the directory stores them in a byte);
// otherwise the result is empty.
std::vector<std::uint8_t> EncodeIcon(std::span<const Canvas> images);

}  // namespace make_icons
