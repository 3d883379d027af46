#include "device/probe_packet.h"

#include <vector>

#include "image/header_packet.h"

namespace {
// Set once at start-up on the user-interface thread, read-only afterwards.
std::vector<std::uint8_t> g_probe;
}  // namespace

bool PrepareProbePacket(std::span<const std::uint8_t> track) {
  g_probe = FindHeaderPacket(track);
  return !g_probe.empty();
}

std::span<const std::uint8_t> ProbePacket() { return g_probe; }
