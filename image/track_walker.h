// The one walk over the firmware image's track. The validation at start-up
// and the upload engine both step through the track with NextTrackEvent, so
// an image that passed the validation is sent by exactly the rules it was
// checked by.
//
// Contract of NextTrackEvent (cursor over the bytes of one MTrk chunk):
//  - At the track end, the walk is over: kind End.
//  - Delta time: a variable-length quantity, read and discarded. When its
//    bytes run past the track end the walk is over: kind End (a valid end).
//  - Status: a byte with bit 7 set is consumed and remembered; a byte below
//    80h repeats the remembered status (running status, remembered across
//    meta and SysEx events too). At the start no status is remembered.
//  - FFh meta: type byte, variable-length length, data. Kind Meta with
//    `metaType`. Types 00h-03h, 06h, 2Fh, 51h and 7Fh are the accepted ones;
//    any other is kind Invalid. End of track (2Fh) does not end the walk.
//  - F0h SysEx: variable-length length, data. Kind SysEx; `data` is the
//    message after its F0 (the message sent is F0 followed by `data`).
//  - Any other status, or none yet: kind Invalid.
//  - Never reads outside the track. A delta time that ends exactly at the
//    track end, a meta type byte or a length that the track end cuts off, and
//    a length reaching past the track end are kind Invalid.
//  - End and Invalid are final: every later call returns the same event.
//  - `data` lies inside the track; `dataOffset` is its offset from the
//    track's first byte, and the cursor's `offset` is the next event's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace image {

inline constexpr std::uint8_t StatusSysEx = 0xF0;
inline constexpr std::uint8_t StatusMeta = 0xFF;

inline constexpr std::uint8_t MetaSequenceNumber = 0x00;
inline constexpr std::uint8_t MetaText = 0x01;
inline constexpr std::uint8_t MetaCopyright = 0x02;
inline constexpr std::uint8_t MetaTrackName = 0x03;
inline constexpr std::uint8_t MetaMarker = 0x06;
inline constexpr std::uint8_t MetaEndOfTrack = 0x2F;
inline constexpr std::uint8_t MetaSetTempo = 0x51;
inline constexpr std::uint8_t MetaSequencerSpecific = 0x7F;

// The meta types a firmware image may hold; every other one makes it invalid.
bool IsAcceptedMetaType(std::uint8_t type);

enum class TrackEventKind { Meta, SysEx, End, Invalid };

// Why a walk stopped at an Invalid event.
enum class TrackFault {
  None,
  NoStatus,          // a data byte with no status remembered
  ForbiddenStatus,   // F7h escape, channel message, system message
  ForbiddenMetaType, // a meta type outside the accepted set
  Truncated,         // status, meta type or length cut off by the track end
  DataPastEnd,       // a length that reaches past the track end
};
const char* TrackFaultText(TrackFault fault);

struct TrackEvent {
  TrackEventKind kind = TrackEventKind::End;
  std::uint8_t metaType = 0;           // Meta only
  std::span<const std::uint8_t> data;  // Meta and SysEx
  std::uint32_t dataOffset = 0;        // Meta and SysEx: from the track start
  TrackFault fault = TrackFault::None; // Invalid only
  std::uint32_t faultOffset = 0;       // Invalid only: where the walk stopped
};

struct TrackCursor {
  std::span<const std::uint8_t> track;
  std::size_t offset = 0;             // next event's first byte
  std::uint8_t runningStatus = 0;     // 0: none remembered yet
  bool finished = false;              // End or Invalid was returned
  TrackEvent finalEvent;              // repeated once finished
};

TrackCursor StartTrackWalk(std::span<const std::uint8_t> track);
TrackEvent NextTrackEvent(TrackCursor& cursor);

// The image's first header packet: a SysEx message (F0 included) of at least
// HeaderPacketMinimum bytes whose command byte is 3Ah. The upload opens with
// it as its probe packet and resynchronises the instrument with it, so the
// probe always matches the image the program carries; a program whose image
// has none cannot upload and refuses to start.
inline constexpr std::size_t HeaderPacketMinimum = 10;
inline constexpr std::size_t HeaderPacketCommandAt = 6;
inline constexpr std::uint8_t HeaderPacketCommand = 0x3A;

// The first header packet of `track`, as stored: F0 followed by the event's
// data, up to and including its F7. Empty when the walk ends (or meets an
// invalid event) before one.
std::vector<std::uint8_t> FindHeaderPacket(std::span<const std::uint8_t> track);

}  // namespace image
