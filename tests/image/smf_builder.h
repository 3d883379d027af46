// Small Standard MIDI Files built in place, so that each test shows the bytes
// it feeds the reader.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace smf {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A chunk: four-character id, big-endian length, data.
inline Bytes Chunk(std::string_view id, const Bytes& data) {
  const auto n = static_cast<std::uint32_t>(data.size());
  return Cat({Text(id.substr(0, 4)),
              {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
               static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)},
              data});
}

inline Bytes Header(std::uint16_t format = 0, std::uint16_t tracks = 1, std::uint16_t division = 50) {
  return Chunk("MThd", {static_cast<std::uint8_t>(format >> 8), static_cast<std::uint8_t>(format),
                        static_cast<std::uint8_t>(tracks >> 8), static_cast<std::uint8_t>(tracks),
                        static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division)});
}

// A format-0 file with one track holding `events`.
inline Bytes Image(const Bytes& events) { return Cat({Header(), Chunk("MTrk", events)}); }

// Delta 0 and a meta event with a one-byte length (data below 128 bytes).
inline Bytes Meta(std::uint8_t type, const Bytes& data) {
  return Cat({{0x00, 0xFF, type, static_cast<std::uint8_t>(data.size())}, data});
}
inline Bytes Meta(std::uint8_t type, std::string_view text) { return Meta(type, Text(text)); }

// Delta 0 and a SysEx event holding `message` without its F0 (below 129 bytes).
inline Bytes SysEx(const Bytes& message) {
  return Cat({{0x00, 0xF0, static_cast<std::uint8_t>(message.size() - 1)},
              Bytes(message.begin() + 1, message.end())});
}

inline const Bytes EndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

}  // namespace smf
