#include "device/upload_packets.h"

#include <algorithm>
#include <cstdio>

#include "device/keystream.h"
#include "texts/user_texts.h"

namespace device {

using image::TrackEvent;
using image::TrackEventKind;

bool BuildPacket(const TrackEvent& event, PacketBuffer& buffer, std::span<std::uint8_t>& packet,
                 UploadRefusal* refusal) {
  const std::size_t length = event.data.size() + 1;
  if (length > PacketCapacity) {
    if (refusal != nullptr) {
      std::snprintf(refusal->reason, sizeof refusal->reason, texts::PacketTooLongFormat,
                    event.dataOffset, length, PacketCapacity);
    }
    return false;
  }
  buffer[0] = image::StatusSysEx;
  std::copy(event.data.begin(), event.data.end(), buffer.begin() + 1);
  packet = std::span<std::uint8_t>(buffer.data(), length);
  const PacketKind kind = ClassifyPacket(packet);
  if (IsScrambled(kind) && PayloadLength(length) > PlainCapacity) {
    if (refusal != nullptr) {
      std::snprintf(refusal->reason, sizeof refusal->reason, texts::PayloadTooLongFormat,
                    event.dataOffset, kind == PacketKind::Header ? "header" : "data",
                    PayloadLength(length), PlainCapacity);
    }
    return false;
  }
  return true;
}

UploadRefusal CheckUploadable(std::span<const std::uint8_t> track) {
  UploadRefusal refusal;
  refusal.refused = true;
  PacketBuffer buffer;
  bool header = false;
  image::TrackCursor cursor = image::StartTrackWalk(track);
  for (;;) {
    const TrackEvent event = NextTrackEvent(cursor);
    switch (event.kind) {
      case TrackEventKind::End:
        if (header) return UploadRefusal{};
        std::snprintf(refusal.reason, sizeof refusal.reason, "%s", texts::NoHeaderPacketReason);
        return refusal;
      case TrackEventKind::Invalid:
        std::snprintf(refusal.reason, sizeof refusal.reason, texts::InvalidEventFormat,
                      event.faultOffset, image::TrackFaultText(event.fault));
        return refusal;
      case TrackEventKind::Meta:
        break;
      case TrackEventKind::SysEx: {
        std::span<std::uint8_t> packet;
        if (!BuildPacket(event, buffer, packet, &refusal)) return refusal;
        header = header || ClassifyPacket(packet) == PacketKind::Header;
        break;
      }
    }
  }
}

}  // namespace device
