// Writes firmware images event by event. The development image's generator
// and the tests' small images share it, so that both frame packets, events
// and files the one way a release does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace image_writer {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t PacketFraming = 9;  // F0 MFR device model command checksum ... F7

// F0 MFR 7F model command, zeros up to `length` - 1, F7.
Bytes Packet(std::uint8_t command, std::size_t length);
// A header or data packet: `plain` scrambled from `state`, checksum included;
// `state` moves on past it, as the upload's reading of the image will.
Bytes ScrambledPacket(std::uint8_t command, std::span<const std::uint8_t> plain, std::uint16_t& state);

// Events with delta time 0 and an explicit status byte each.
class TrackWriter {
 public:
  void Meta(std::uint8_t type, std::span<const std::uint8_t> data);
  void Text(std::uint8_t type, std::string_view text);
  // `message` is a whole SysEx message; the event stores it without its F0.
  void SysEx(std::span<const std::uint8_t> message);
  const Bytes& Events() const { return events_; }

 private:
  void VarLen(std::size_t value);
  Bytes events_;
};

// A format-0 Standard MIDI File of one track, 50 ticks per quarter.
Bytes File(std::span<const std::uint8_t> events);

}  // namespace image_writer
