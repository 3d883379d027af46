// The firmware image: a Standard MIDI File (format 0, one track) whose track
// is the sequence of SysEx packets the upload sends, with marker texts in
// between and the version in a sequencer-specific meta event "VER_V...".
//
// The image is checked once at start-up, before any other thread exists, and
// read-only afterwards: readers on any thread need no lock. The track is used
// in place; only the version text is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/firmware_resource.h"
#include "platform/services.h"

namespace image {

inline constexpr std::size_t FirmwareVersionSize = 20;  // 19 characters and a NUL

struct FirmwareImage {
  const std::uint8_t* track = nullptr;  // first data byte of the MTrk chunk
  std::uint32_t trackLength = 0;        // the MTrk chunk's length field
  char version[FirmwareVersionSize] = {};  // empty without a version event
  // The repository's development image: test data in a release's shape,
  // not firmware (see IsDevelopmentImage).
  bool development = false;
};

inline std::span<const std::uint8_t> TrackBytes(const FirmwareImage& image) {
  return {image.track, image.trackLength};
}

// FNV-1a, 64 bits: a fingerprint of a file or a firmware, not a protection
// against anyone who means harm.
std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes);

// The development image that tools/make_image generates and the repository
// carries (resources/firmware/development-image.mid): pseudo-random bytes
// with valid checksums, labelled like a release. A real instrument would take
// every packet of it and be left with only its boot loader, so every program
// names it and asks before it goes to an instrument on real MIDI ports. It
// is recognised by its bytes, whichever way it came in (embedded, --image, a
// file opened in the web page); its generator's test checks this digest.
inline constexpr std::uint64_t DevelopmentImageDigest = 0xE775383B341BCA7Bull;
inline bool IsDevelopmentImage(std::span<const std::uint8_t> file) {
  return Fnv1a64(file) == DevelopmentImageDigest;
}

// Why an image was refused, for tools that explain it (the build check).
struct ImageFault {
  const char* text = "";
  std::size_t offset = 0;  // from the start of the resource
};

// Checks `resource` and fills `image` from it; `image` then points into
// `resource`. On false, `image` is left empty and `fault`, when given, says
// why. Never reads outside `resource`; an image whose reading would need to
// is invalid.
bool ReadFirmwareImage(std::span<const std::uint8_t> resource, FirmwareImage& image,
                       ImageFault* fault = nullptr);

// The process-wide image, empty until a Load... call succeeds.
const FirmwareImage& LoadedFirmwareImage();

// Loads an image into the process-wide record: one the caller supplies (a
// test, an image file given on the command line), whose bytes must stay alive
// and unchanged for the rest of the process, or the program's embedded one,
// found through the platform seam. False when it is missing or invalid; the
// caller then reports the error, this code shows nothing.
bool LoadFirmwareImage(std::span<const std::uint8_t> resource);
// Inline, so that only programs that load the embedded image need the
// platform's resource lookup.
inline bool LoadFirmwareImage(platform::ModuleHandle module) {
  return LoadFirmwareImage(platform::FindFirmwareResource(module));
}

}  // namespace image
