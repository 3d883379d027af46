#include "image/header_packet.h"

#include "image/track_walker.h"

std::vector<std::uint8_t> FindHeaderPacket(std::span<const std::uint8_t> track) {
  TrackCursor cursor = StartTrackWalk(track);
  for (;;) {
    const TrackEvent event = NextTrackEvent(cursor);
    if (event.kind == TrackEventKind::End || event.kind == TrackEventKind::Invalid) return {};
    if (event.kind != TrackEventKind::SysEx) continue;
    // The event data lack the F0, so positions in them are one lower.
    if (event.data.size() + 1 < HeaderPacketMinimum) continue;
    if (event.data[HeaderPacketCommandAt - 1] != HeaderPacketCommand) continue;
    std::vector<std::uint8_t> packet;
    packet.reserve(event.data.size() + 1);
    packet.push_back(StatusSysEx);
    packet.insert(packet.end(), event.data.begin(), event.data.end());
    return packet;
  }
}
