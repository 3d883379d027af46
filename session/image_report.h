// What `inspect` tells of a firmware image: whether the program would accept
// it and, if so, what its track holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace session {

struct ImageReport {
  bool valid = false;
  std::string reason;  // invalid only
  std::string version;
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

// Reads a whole file; false (with the reason) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

}  // namespace session
