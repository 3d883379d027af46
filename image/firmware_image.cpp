#include "image/firmware_image.h"

#include <array>

#include "image/smf_read.h"
#include "image/track_walker.h"

namespace image {

namespace {

constexpr std::size_t ChunkHeaderSize = 8;
constexpr std::uint32_t ChunkHeader = 0x4D546864;  // "MThd"
constexpr std::uint32_t ChunkTrack = 0x4D54726B;   // "MTrk"
constexpr std::uint32_t HeaderLength = 6;
constexpr std::uint16_t RequiredFormat = 0;
constexpr std::uint16_t RequiredTrackCount = 1;

constexpr std::array<char, 5> VersionPrefix = {'V', 'E', 'R', '_', 'V'};

FirmwareImage g_image;

char AsciiUpper(std::uint8_t c) {
  return static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
}

// A sequencer-specific event holds the version when its data begin with
// "VER_V" in any letter case. Shorter data cannot hold the prefix, so they are
// not a version event (and are accepted like any other 7Fh event).
bool IsVersionEvent(std::span<const std::uint8_t> data) {
  if (data.size() < VersionPrefix.size()) return false;
  for (std::size_t i = 0; i < VersionPrefix.size(); ++i) {
    if (AsciiUpper(data[i]) != VersionPrefix[i]) return false;
  }
  return true;
}

bool Refuse(ImageFault& fault, const char* text, std::size_t offset) {
  fault = {text, offset};
  return false;
}

// Walks the chunks and picks the track; every MThd chunk is checked.
bool ReadChunks(std::span<const std::uint8_t> resource, FirmwareImage& image, ImageFault& fault) {
  if (resource.size() < ChunkHeaderSize || ReadBE32(resource.data()) != ChunkHeader) {
    return Refuse(fault, "not a Standard MIDI File (no MThd chunk at the start)", 0);
  }
  std::size_t offset = 0;
  while (offset < resource.size()) {
    if (resource.size() - offset < ChunkHeaderSize) {
      return Refuse(fault, "bytes after the last chunk too short for a chunk header", offset);
    }
    const std::uint8_t* chunk = resource.data() + offset;
    const std::uint32_t id = ReadBE32(chunk);
    const std::uint32_t length = ReadBE32(chunk + 4);
    // A chunk that claims more bytes than the resource holds is a broken file,
    // whatever its id.
    if (length > resource.size() - offset - ChunkHeaderSize) {
      return Refuse(fault, "chunk length reaching past the end of the file", offset);
    }
    const std::uint8_t* data = chunk + ChunkHeaderSize;
    if (id == ChunkTrack) {
      image.track = data;
      image.trackLength = length;
    } else if (id == ChunkHeader) {
      if (length != HeaderLength) return Refuse(fault, "MThd chunk length other than 6", offset);
      if (ReadBE16(data) != RequiredFormat) return Refuse(fault, "SMF format other than 0", offset);
      if (ReadBE16(data + 2) != RequiredTrackCount) {
        return Refuse(fault, "track count other than 1", offset);
      }
      // The division (data + 4) plays no part: the upload is paced by replies.
    }
    offset += ChunkHeaderSize + length;
  }
  return true;
}

bool WalkTrack(std::span<const std::uint8_t> resource, FirmwareImage& image, ImageFault& fault) {
  TrackCursor cursor = StartTrackWalk(TrackBytes(image));
  for (;;) {
    const TrackEvent event = NextTrackEvent(cursor);
    switch (event.kind) {
      case TrackEventKind::End:
        return true;
      case TrackEventKind::Invalid:
        return Refuse(fault, TrackFaultText(event.fault),
                      static_cast<std::size_t>(image.track - resource.data()) + event.faultOffset);
      case TrackEventKind::Meta:
        // A later version event replaces an earlier one.
        if (event.metaType == MetaSequencerSpecific && IsVersionEvent(event.data)) {
          CopyBounded(image.version, event.data.subspan(VersionPrefix.size()));
        }
        break;
      case TrackEventKind::SysEx:
        break;  // the packets are carried opaque
    }
  }
}

}  // namespace

bool ReadFirmwareImage(std::span<const std::uint8_t> resource, FirmwareImage& image,
                       ImageFault* fault) {
  FirmwareImage read;
  ImageFault why;
  if (!ReadChunks(resource, read, why) || !WalkTrack(resource, read, why)) {
    image = FirmwareImage{};
    if (fault != nullptr) *fault = why;
    return false;
  }
  read.development = IsDevelopmentImage(resource);
  image = read;
  return true;
}

std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const std::uint8_t byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001B3ull;
  }
  return hash;
}

const FirmwareImage& LoadedFirmwareImage() { return g_image; }

bool LoadFirmwareImage(std::span<const std::uint8_t> resource) {
  return ReadFirmwareImage(resource, g_image);
}

}  // namespace image
