// Arbitrary bytes as the firmware image resource: the reader must never read
// outside them, and what it accepts must walk to its end the way the upload
// walks it. The same bytes are also walked as a bare track, which reaches
// walker states a whole image seldom gets to. Broken invariants trap.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "image/firmware_image.h"
#include "image/smf_read.h"
#include "image/track_walker.h"

using namespace image;

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Mirrors the upload's use of each event: marker text into its 512-byte
// buffer, SysEx message into the 2,056-byte packet buffer.
void WalkAsUpload(std::span<const std::uint8_t> track, bool mustReachEnd) {
  char markerText[512];
  std::uint8_t packet[2056];
  TrackCursor cursor = StartTrackWalk(track);
  std::size_t previousEnd = 0;
  for (;;) {
    const TrackEvent event = NextTrackEvent(cursor);
    if (event.kind == TrackEventKind::End || event.kind == TrackEventKind::Invalid) {
      Require(!mustReachEnd || event.kind == TrackEventKind::End);
      Require(event.kind != TrackEventKind::Invalid || event.faultOffset <= track.size());
      // End and Invalid are final.
      Require(NextTrackEvent(cursor).kind == event.kind);
      return;
    }
    Require(event.dataOffset >= previousEnd + 2);  // at least a delta and a length byte
    Require(event.dataOffset + event.data.size() <= track.size());
    Require(event.data.data() == track.data() + event.dataOffset);
    Require(cursor.offset == event.dataOffset + event.data.size());
    previousEnd = cursor.offset;
    if (event.kind == TrackEventKind::Meta) {
      Require(IsAcceptedMetaType(event.metaType));
      if (event.metaType == MetaMarker) {
        CopyBounded(markerText, event.data);
        Require(std::strlen(markerText) < sizeof markerText);
      }
    } else if (event.data.size() + 1 <= sizeof packet) {
      packet[0] = StatusSysEx;
      std::memcpy(packet + 1, event.data.data(), event.data.size());
    }
  }
}

void CheckHeaderPacket(std::span<const std::uint8_t> track) {
  const std::vector<std::uint8_t> header = FindHeaderPacket(track);
  if (header.empty()) return;
  Require(header.size() >= HeaderPacketMinimum);
  Require(header[0] == StatusSysEx && header[HeaderPacketCommandAt] == HeaderPacketCommand);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);

  FirmwareImage image;
  ImageFault fault;
  if (ReadFirmwareImage(bytes, image, &fault)) {
    Require(image.trackLength == 0 ||
            (image.track >= data && image.track + image.trackLength <= data + size));
    Require(std::memchr(image.version, 0, FirmwareVersionSize) != nullptr);
    WalkAsUpload(TrackBytes(image), true);
    CheckHeaderPacket(TrackBytes(image));
  } else {
    Require(image.track == nullptr && image.trackLength == 0 && image.version[0] == '\0');
    Require(fault.offset <= size);
  }

  WalkAsUpload(bytes, false);
  CheckHeaderPacket(bytes);

  std::size_t offset = 0;
  std::uint32_t value = 0;
  // A read either completes inside the bytes or leaves the offset alone.
  if (ReadVarLen(bytes, offset, value)) {
    Require(offset >= 1 && offset <= size);
  } else {
    Require(offset == 0);
  }
  return 0;
}
