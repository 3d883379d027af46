// What `inspect` tells of a firmware image: whether the program would accept
// it and, if so, what its track holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "image/firmware_image.h"

namespace session {

struct ImageReport {
  bool valid = false;
  std::string reason;  // invalid only
  std::string version;
  bool development = false;  // the repository's development image
  std::uint32_t trackLength = 0;
  std::uint32_t events = 0;  // meta and SysEx events walked
  std::uint32_t sysex = 0;
  std::uint32_t headerPackets = 0;
  std::uint32_t dataPackets = 0;
  std::uint32_t resetPackets = 0;
  std::vector<std::string> markers;
};

// The same checks the program makes before it uses an image: the reader's,
// and the upload's (device::CheckUploadable).
ImageReport InspectImage(std::span<const std::uint8_t> file);

// Makes `file` the program's image (image::LoadFirmwareImage) with its probe
// packet, after the checks of InspectImage: how the command line takes
// --image and the page another image file, and both their embedded one.
// The report says whether it is in use and, if not, why. `file` must outlive
// its use.
ImageReport UseImage(std::span<const std::uint8_t> file);

// The report as `key: value` lines.
void PrintImageReport(const ImageReport& report, std::FILE* out);

// An image's version as the program shows it: "1.91", or "1.91 (development
// image)" for the development image.
std::string VersionLabel(const image::FirmwareImage& image);
// "V1.91 (development image)": the image the program carries, for
// --version; "unusable" when it carries none the program would accept.
std::string EmbeddedImageLabel();

// An image's version as the programs show it: "1.91", or "1.91 (development
// image)" for the development image.
std::string VersionLabel(const image::FirmwareImage& image);

// Reads a whole file; false (with the reason) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace session
