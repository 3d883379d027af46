#include "emulator/virtual_firmware.h"

#include <algorithm>
#include <array>

#include "device/keystream.h"
#include "image/track_walker.h"

namespace emulator {

using image::NextTrackEvent;
using image::StartTrackWalk;
using image::TrackCursor;
using image::TrackEvent;
using image::TrackEventKind;

// The instrument speaks the device protocol from the other end.
using namespace device;

std::vector<std::uint8_t> PlainFirmwareOfTrack(std::span<const std::uint8_t> track) {
  PacketKeystream keys;
  std::vector<std::uint8_t> header;
  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> message;
  std::array<std::uint8_t, 4096> plain{};
  TrackCursor cursor = StartTrackWalk(track);
  for (TrackEvent e = NextTrackEvent(cursor);
       e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx;
       e = NextTrackEvent(cursor)) {
    if (e.kind != TrackEventKind::SysEx) continue;
    message.assign(1, 0xF0);
    message.insert(message.end(), e.data.begin(), e.data.end());
    const auto payload = plain.begin() + static_cast<std::ptrdiff_t>(
                                             std::min(PayloadLength(message.size()), plain.size()));
    switch (keys.OnPacketRead(message, plain)) {
      case PacketKind::Header:
        header.assign(plain.begin(), payload);
        break;
      case PacketKind::Data:
        data.insert(data.end(), plain.begin(), payload);
        break;
      case PacketKind::Reset:
        data.clear();
        break;
      case PacketKind::Plain:
        break;
    }
  }
  header.insert(header.end(), data.begin(), data.end());
  return header;
}

}  // namespace emulator
