// The development firmware image: an image with exactly the shape of a
// released one (chunk layout, event order, packet lengths, version "1.91"),
// whose payloads are a pseudo-random plain firmware scrambled with the image
// keystream. It lets the program be built, run and tested without a release.
// The output depends on nothing but this code: the same bytes on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t DevelopmentImageSize = 336065;
inline constexpr std::uint32_t DevelopmentTrackLength = 336043;
inline constexpr std::size_t DevelopmentEventCount = 2664;

struct DevelopmentImage {
  std::vector<std::uint8_t> file;         // the Standard MIDI File
  std::vector<std::uint8_t> headerPlain;  // plain payload of the header packet
  // Plain payloads of the data packets, in track order: the firmware an
  // instrument ends up with after a complete upload.
  std::vector<std::uint8_t> plainFirmware;
};

DevelopmentImage BuildDevelopmentImage();
