// The packet keystream. Header (3Ah) and data (3Bh) packets travel scrambled:
// every payload byte is XORed with the high byte of a 16-bit linear
// congruential state and masked to 7 bits, and position 7 carries the 7-bit
// sum of the scrambled payload. The image stores them scrambled with one
// position of the keystream; the upload re-scrambles them from the position
// the instrument is at, which differs after a retry or a resynchronisation.
//
// PacketKeystream holds the four states of one upload and the rules for when
// each moves. The upload engine and the virtual instrument share it, so both
// sides of the link follow the same rules by construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace device {

inline constexpr std::uint16_t KeystreamSeed = 0x4E2B;
inline constexpr std::uint16_t KeystreamMultiplier = 0x6B0D;
inline constexpr std::uint16_t KeystreamAddend = 0x3A17;

// Packet layout, counted from the F0.
inline constexpr std::size_t PacketCommandAt = 6;
inline constexpr std::size_t PacketChecksumAt = 7;
inline constexpr std::size_t PacketPayloadAt = 8;
// F0, MFR, device, model, command, checksum, one payload byte, F7.
inline constexpr std::size_t ScrambledPacketMinimum = 10;

inline constexpr std::uint8_t CommandHeader = 0x3A;
inline constexpr std::uint8_t CommandData = 0x3B;
inline constexpr std::uint8_t CommandReset = 0x3D;

enum class PacketKind { Plain, Header, Data, Reset };

// How the keystream treats a message: only messages of at least ten bytes are
// examined; every other message is Plain and is sent exactly as stored.
PacketKind ClassifyPacket(std::span<const std::uint8_t> packet);
inline bool IsScrambled(PacketKind kind) {
  return kind == PacketKind::Header || kind == PacketKind::Data;
}
// Payload length of a scrambled packet of `length` bytes (F0 to F7).
inline std::size_t PayloadLength(std::size_t length) {
  return length >= ScrambledPacketMinimum ? length - PacketPayloadAt - 1 : 0;
}

// state := (A - state * M) mod 2^16; returns the new state's high byte.
std::uint8_t KeystreamStep(std::uint16_t& state);

// plain[i] = (step ^ packet[8 + i]) & 7Fh for every payload byte. `plain`
// must hold PayloadLength(packet.size()) bytes.
void DescramblePayload(std::uint16_t& state, std::span<const std::uint8_t> packet,
                       std::span<std::uint8_t> plain);
// packet[8 + i] = (step ^ plain[i]) & 7Fh, then packet[7] = payload sum & 7Fh.
void RescramblePayload(std::uint16_t& state, std::span<const std::uint8_t> plain,
                       std::span<std::uint8_t> packet);
// The checksum byte a scrambled packet must carry.
std::uint8_t PayloadChecksum(std::span<const std::uint8_t> packet);

struct PacketKeystream {
  std::uint16_t image = 0;     // position of the image's stored scrambling
  std::uint16_t transmit = 0;  // position the next packet is re-scrambled at
  std::uint16_t attempt = 0;   // copy of transmit, stepped by one send attempt
  std::uint16_t saved = KeystreamSeed;  // image state right after the last header

  // Once per packet read from the track. Header: both states to the seed,
  // descramble, save; data: descramble; reset: both states to the seed.
  // Returns the kind; `plain` receives the payload of a header or data packet.
  PacketKind OnPacketRead(std::span<const std::uint8_t> packet, std::span<std::uint8_t> plain);
  // Once per send attempt of a header or data packet: re-scramble `packet`
  // from the transmit position.
  void BeginAttempt(std::span<const std::uint8_t> plain, std::span<std::uint8_t> packet);
  // A status reply to the attempt arrived, whatever its code.
  void OnAttemptAnswered() { transmit = attempt; }
  // A resynchronisation ended with code 3: the instrument is back at the
  // position right after the header.
  void OnResynchronised() { transmit = saved; }
};

}  // namespace device
