// What a complete upload of a track leaves in an instrument: the plain
// payload of its last header packet, then the plain payloads of the data
// packets behind its last reset packet, in track order. Worked out with the
// host's own keystream rules (PacketKeystream over the stored packets), apart
// from the instrument that reconstructs it from what it hears, so the two can
// be compared.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace emulator {

std::vector<std::uint8_t> PlainFirmwareOfTrack(std::span<const std::uint8_t> track);

}  // namespace emulator
