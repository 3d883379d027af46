#include "image/track_walker.h"

#include "image/smf_read.h"

namespace image {

namespace {

TrackEvent Finish(TrackCursor& cursor, TrackEvent event) {
  cursor.finished = true;
  cursor.finalEvent = event;
  return event;
}

TrackEvent Fail(TrackCursor& cursor, TrackFault fault, std::size_t at) {
  TrackEvent event;
  event.kind = TrackEventKind::Invalid;
  event.fault = fault;
  event.faultOffset = static_cast<std::uint32_t>(at);
  return Finish(cursor, event);
}

// Reads the length of a meta or SysEx event and frames its data.
bool ReadEventData(TrackCursor& cursor, TrackEvent& event, TrackFault& fault) {
  std::uint32_t length = 0;
  if (!ReadVarLen(cursor.track, cursor.offset, length)) {
    fault = TrackFault::Truncated;
    return false;
  }
  if (length > cursor.track.size() - cursor.offset) {
    fault = TrackFault::DataPastEnd;
    return false;
  }
  event.data = cursor.track.subspan(cursor.offset, length);
  event.dataOffset = static_cast<std::uint32_t>(cursor.offset);
  cursor.offset += length;
  return true;
}

}  // namespace

bool IsAcceptedMetaType(std::uint8_t type) {
  switch (type) {
    case MetaSequenceNumber:
    case MetaText:
    case MetaCopyright:
    case MetaTrackName:
    case MetaMarker:
    case MetaEndOfTrack:
    case MetaSetTempo:
    case MetaSequencerSpecific:
      return true;
    default:
      return false;
  }
}

const char* TrackFaultText(TrackFault fault) {
  switch (fault) {
    case TrackFault::None: return "no fault";
    case TrackFault::NoStatus: return "event without a status byte";
    case TrackFault::ForbiddenStatus: return "status byte other than FFh or F0h";
    case TrackFault::ForbiddenMetaType: return "meta event of a type a firmware image may not hold";
    case TrackFault::Truncated: return "event cut off by the end of the track";
    case TrackFault::DataPastEnd: return "event data reaching past the end of the track";
  }
  return "unknown fault";
}

TrackCursor StartTrackWalk(std::span<const std::uint8_t> track) {
  TrackCursor cursor;
  cursor.track = track;
  return cursor;
}

TrackEvent NextTrackEvent(TrackCursor& cursor) {
  if (cursor.finished) return cursor.finalEvent;
  const std::span<const std::uint8_t> track = cursor.track;
  if (cursor.offset >= track.size()) return Finish(cursor, TrackEvent{});

  // The delta time plays no part: the upload is paced by the instrument.
  std::uint32_t delta = 0;
  if (!ReadVarLen(track, cursor.offset, delta)) return Finish(cursor, TrackEvent{});
  const std::size_t eventStart = cursor.offset;
  if (cursor.offset >= track.size()) return Fail(cursor, TrackFault::Truncated, eventStart);

  if ((track[cursor.offset] & 0x80u) != 0) cursor.runningStatus = track[cursor.offset++];

  TrackEvent event;
  TrackFault fault = TrackFault::None;
  switch (cursor.runningStatus) {
    case StatusMeta: {
      if (cursor.offset >= track.size()) return Fail(cursor, TrackFault::Truncated, eventStart);
      event.kind = TrackEventKind::Meta;
      event.metaType = track[cursor.offset++];
      if (!IsAcceptedMetaType(event.metaType)) {
        return Fail(cursor, TrackFault::ForbiddenMetaType, eventStart);
      }
      break;
    }
    case StatusSysEx:
      event.kind = TrackEventKind::SysEx;
      break;
    case 0:
      return Fail(cursor, TrackFault::NoStatus, eventStart);
    default:
      return Fail(cursor, TrackFault::ForbiddenStatus, eventStart);
  }
  if (!ReadEventData(cursor, event, fault)) return Fail(cursor, fault, eventStart);
  return event;
}

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

}  // namespace image
