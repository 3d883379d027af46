#include "tools/make_image/development_image.h"

#include <array>
#include <string_view>

#include "device/keystream.h"
#include "image/track_walker.h"
#include "tools/make_image/image_writer.h"

using device::CommandData;
using device::CommandHeader;
using device::CommandReset;
using device::KeystreamSeed;
using image::MetaCopyright;
using image::MetaEndOfTrack;
using image::MetaMarker;
using image::MetaSequencerSpecific;
using image::MetaSetTempo;
using image::MetaText;
using image::MetaTrackName;
using image_writer::Packet;
using image_writer::PacketFraming;
using image_writer::ScrambledPacket;

namespace {

// Commands the image carries unscrambled; the flasher sends them as stored and
// what they do is the instrument's business.
constexpr std::uint8_t CommandState = 0x11;  // the same message as the state request
constexpr std::uint8_t Command39 = 0x39;
constexpr std::uint8_t Command37 = 0x37;
constexpr std::uint8_t Command38 = 0x38;
constexpr std::size_t CommandPacketLength = 8;  // F0 MFR device model command F7

constexpr std::size_t HeaderPacketLength = 126;
constexpr std::size_t FullDataPacketLength = 125;

// The data packets come in eight sections, each closed by a shorter packet,
// as a firmware's flash sections of uneven size would. The lengths of the
// closing packets (F0 to F7) are chosen so that the track comes out at
// exactly DevelopmentTrackLength bytes.
struct Section {
  std::size_t fullPackets;
  std::size_t closingLength;
};
constexpr std::array<Section, 8> Sections = {{
    {512, 18}, {384, 123}, {256, 47}, {400, 96}, {330, 64}, {300, 81}, {256, 35}, {200, 88},
}};

constexpr std::string_view TrackName = "Tarvonic firmware 1.91 - development image";
constexpr std::string_view Copyright = "Copyright (c) Kelmora";
constexpr std::string_view Description =
    "Development image: pseudo-random payloads, not a firmware for a real instrument.";
constexpr std::string_view Version = "VER_V1.91";

// Marsaglia's xorshift32 with a fixed seed: the image must not depend on the
// machine or the run.
class Xorshift32 {
 public:
  explicit Xorshift32(std::uint32_t seed) : state_(seed) {}
  std::uint8_t Next7Bits() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<std::uint8_t>((state_ >> 11) & 0x7F);
  }

 private:
  std::uint32_t state_;
};
constexpr std::uint32_t PlainSeed = 0x4B454C4D;  // "KELM"

}  // namespace

DevelopmentImage BuildDevelopmentImage() {
  DevelopmentImage image;
  Xorshift32 random(PlainSeed);
  auto plainBytes = [&random](std::size_t count) {
    std::vector<std::uint8_t> plain(count);
    for (auto& byte : plain) byte = random.Next7Bits();
    return plain;
  };

  image_writer::TrackWriter track;
  const std::array<std::uint8_t, 3> tempo = {0x07, 0xA1, 0x20};  // 500,000 us per quarter
  track.Meta(MetaSetTempo, tempo);
  track.Text(MetaSequencerSpecific, Version);
  track.Text(MetaTrackName, TrackName);
  track.Text(MetaCopyright, Copyright);
  track.Text(MetaText, Description);

  const std::vector<std::uint8_t> state = Packet(CommandState, CommandPacketLength);
  track.SysEx(Packet(Command39, CommandPacketLength));
  track.SysEx(state);
  track.SysEx(Packet(Command37, CommandPacketLength));
  track.SysEx(state);

  // The header restarts the keystream at the seed, as the upload's reading of
  // it will.
  std::uint16_t keystream = KeystreamSeed;
  image.headerPlain = plainBytes(HeaderPacketLength - PacketFraming);
  track.SysEx(ScrambledPacket(CommandHeader, image.headerPlain, keystream));
  track.SysEx(state);

  track.Text(MetaMarker, "Erasing Flash...");
  // One checksum byte and one payload byte, so that the packet is long
  // enough to count as a reset; its bytes are sent as stored.
  track.SysEx(Packet(CommandReset, 10));
  keystream = KeystreamSeed;
  track.SysEx(state);

  track.Text(MetaMarker, "Writing Sections...");
  for (const Section& section : Sections) {
    for (std::size_t i = 0; i <= section.fullPackets; ++i) {
      const std::size_t length = i < section.fullPackets ? FullDataPacketLength : section.closingLength;
      const std::vector<std::uint8_t> plain = plainBytes(length - PacketFraming);
      image.plainFirmware.insert(image.plainFirmware.end(), plain.begin(), plain.end());
      track.SysEx(ScrambledPacket(CommandData, plain, keystream));
    }
  }

  track.Text(MetaMarker, "Restarting...");
  track.SysEx(Packet(Command38, CommandPacketLength));
  track.Meta(MetaEndOfTrack, {});

  image.file = image_writer::File(track.Events());
  return image;
}
