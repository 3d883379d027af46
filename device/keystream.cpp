#include "device/keystream.h"

namespace device {

PacketKind ClassifyPacket(std::span<const std::uint8_t> packet) {
  if (packet.size() < ScrambledPacketMinimum) return PacketKind::Plain;
  switch (packet[PacketCommandAt]) {
    case CommandHeader: return PacketKind::Header;
    case CommandData: return PacketKind::Data;
    case CommandReset: return PacketKind::Reset;
    default: return PacketKind::Plain;
  }
}

std::uint8_t KeystreamStep(std::uint16_t& state) {
  // Unsigned 16-bit arithmetic: the product's high bits are discarded.
  state = static_cast<std::uint16_t>(KeystreamAddend - state * KeystreamMultiplier);
  return static_cast<std::uint8_t>(state >> 8);
}

void DescramblePayload(std::uint16_t& state, std::span<const std::uint8_t> packet,
                       std::span<std::uint8_t> plain) {
  const std::size_t count = PayloadLength(packet.size());
  for (std::size_t i = 0; i < count && i < plain.size(); ++i) {
    plain[i] = static_cast<std::uint8_t>((KeystreamStep(state) ^ packet[PacketPayloadAt + i]) & 0x7F);
  }
}

void RescramblePayload(std::uint16_t& state, std::span<const std::uint8_t> plain,
                       std::span<std::uint8_t> packet) {
  const std::size_t count = PayloadLength(packet.size());
  unsigned sum = 0;
  for (std::size_t i = 0; i < count && i < plain.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>((KeystreamStep(state) ^ plain[i]) & 0x7F);
    packet[PacketPayloadAt + i] = byte;
    sum += byte;
  }
  if (count > 0) packet[PacketChecksumAt] = static_cast<std::uint8_t>(sum & 0x7F);
}

std::uint8_t PayloadChecksum(std::span<const std::uint8_t> packet) {
  const std::size_t count = PayloadLength(packet.size());
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += packet[PacketPayloadAt + i];
  return static_cast<std::uint8_t>(sum & 0x7F);
}

PacketKind PacketKeystream::OnPacketRead(std::span<const std::uint8_t> packet,
                                         std::span<std::uint8_t> plain) {
  const PacketKind kind = ClassifyPacket(packet);
  switch (kind) {
    case PacketKind::Header:
      image = KeystreamSeed;
      transmit = KeystreamSeed;
      DescramblePayload(image, packet, plain);
      saved = image;
      break;
    case PacketKind::Data:
      DescramblePayload(image, packet, plain);
      break;
    case PacketKind::Reset:
      image = KeystreamSeed;
      transmit = KeystreamSeed;
      break;
    case PacketKind::Plain:
      break;
  }
  return kind;
}

void PacketKeystream::BeginAttempt(std::span<const std::uint8_t> plain,
                                   std::span<std::uint8_t> packet) {
  attempt = transmit;
  RescramblePayload(attempt, plain, packet);
}

}  // namespace device
