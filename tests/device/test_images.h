// Firmware images for the tests: the embedded image, small images built in
// place, and what an instrument must end up with after uploading one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/make_image/image_writer.h"

namespace test_images {

using Bytes = std::vector<std::uint8_t>;

// The image the program carries (the development image unless the build was
// configured with another).
std::span<const std::uint8_t> Embedded();
// The track of a valid image file.
std::span<const std::uint8_t> Track(std::span<const std::uint8_t> file);

// What an instrument must have written after a complete upload of `track`.
Bytes PlainFirmware(std::span<const std::uint8_t> track);

// Every SysEx event of `track` as the message sent for it, and the marker
// texts, in track order.
std::vector<Bytes> Messages(std::span<const std::uint8_t> track);
std::vector<std::string> Markers(std::span<const std::uint8_t> track);

// The plain payload of the first packet of `track` with that command byte.
Bytes Plain(std::span<const std::uint8_t> track, std::uint8_t command);
// `plain` scrambled from keystream position `state` into a packet with that
// command, checksum included; `steps` further steps first.
Bytes Scrambled(std::uint8_t command, std::span<const std::uint8_t> plain, std::uint16_t state,
                std::size_t steps = 0);

// A release's shape in small: commands, the header, the erase (reset)
// packet, `dataPackets` data packets and the restart command, with the
// release's markers.
Bytes ReleaseShape(int dataPackets);
// The same shape with one- and two-byte data packets, every eighth of them
// identical on the wire to the one before it. Short packets are where a
// re-scrambled attempt can equal the one before it: a one-byte payload
// re-scrambles to the same byte whenever two keystream states in a row share
// their top seven bits.
Bytes ShortPackets(int dataPackets);

// Small images, event by event, each with delta time 0. Header and data
// packets carry pseudo-random plain payloads scrambled the way a release's
// are: the header from the seed, each data packet from where the last one
// ended (a reset packet starts again at the seed).
class ImageBuilder {
 public:
  ImageBuilder& Version(std::string_view version);  // the "VER_V..." event
  ImageBuilder& Marker(std::string_view text);
  ImageBuilder& Header(std::size_t payload = 117);
  ImageBuilder& Data(std::size_t payload = 116);
  // A one-byte data packet whose bytes equal the packet before it, which must
  // be a one-byte data packet too: a new packet identical on the wire.
  ImageBuilder& Again();
  ImageBuilder& Reset();
  ImageBuilder& Command(std::uint8_t command, std::size_t length = 8);
  ImageBuilder& EndOfTrack();
  Bytes File() const { return image_writer::File(track_.Events()); }

 private:
  ImageBuilder& Data(std::size_t payload, std::uint8_t command);
  image_writer::TrackWriter track_;
  std::uint16_t key_ = 0;
  Bytes last_;  // the last header or data packet
  std::uint32_t random_ = 0x12345678;
};

}  // namespace test_images
