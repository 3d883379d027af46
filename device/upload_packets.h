// What the upload can send. The engine builds every packet from its track
// event in fixed buffers, and the start-up check of a whole track builds
// each one with the same code and the same buffers: an image the engine
// would stop part-way through, after the instrument has erased its flash, is
// refused before anything is sent, and the check cannot drift from the
// engine.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/track_walker.h"

namespace device {

inline constexpr std::size_t PacketCapacity = 2056;  // F0 to F7
inline constexpr std::size_t PlainCapacity = 2040;   // a header or data packet's payload
using PacketBuffer = std::array<std::uint8_t, PacketCapacity>;

// Why the upload could not send a track to its end: an event the walk
// rejects, a packet longer than the buffers, or no header packet to take the
// probe from.
inline constexpr std::size_t UploadRefusalSize = 200;
struct UploadRefusal {
  bool refused = false;
  char reason[UploadRefusalSize] = {};  // what cannot be sent, where, and why
};

// Builds the message of one SysEx event, F0 and the event's data, in
// `buffer`, and points `packet` at it. False, with the reason in `refusal`
// when given, when it does not fit: no instrument packet is that long, so
// the image is broken. Header and data packets also need the plain buffer
// for their payload; every other message is sent as stored.
bool BuildPacket(const image::TrackEvent& event, PacketBuffer& buffer,
                 std::span<std::uint8_t>& packet, UploadRefusal* refusal);

// Builds every packet of `track` as the upload would; `refused` is false
// when the whole track can be sent.
UploadRefusal CheckUploadable(std::span<const std::uint8_t> track);

}  // namespace device
