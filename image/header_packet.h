// The image's first header packet. The upload opens with it as its probe
// packet and resynchronises the instrument with it, so the probe always
// matches the image the program carries. A program whose image has none
// cannot upload and refuses to start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// A header packet: a SysEx message (F0 included) of at least this many bytes
// whose command byte is 3Ah. Shorter messages are never treated by command.
inline constexpr std::size_t HeaderPacketMinimum = 10;
inline constexpr std::size_t HeaderPacketCommandAt = 6;
inline constexpr std::uint8_t HeaderPacketCommand = 0x3A;

// The first header packet of `track`, as stored: F0 followed by the event's
// data, up to and including its F7. Empty when the walk ends (or meets an
// invalid event) before one.
std::vector<std::uint8_t> FindHeaderPacket(std::span<const std::uint8_t> track);
