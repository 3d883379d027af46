// The probe packet: sent 50 times before an upload and to resynchronise the
// instrument. It is the image's own header packet, byte for byte, taken from
// the image at start-up so that the two can never differ.
#pragma once

#include <cstdint>
#include <span>

// Takes the first header packet of `track`. False when the track has none:
// such an image cannot be uploaded, and the program refuses it at start.
bool PrepareProbePacket(std::span<const std::uint8_t> track);
// Empty until PrepareProbePacket succeeded.
std::span<const std::uint8_t> ProbePacket();
