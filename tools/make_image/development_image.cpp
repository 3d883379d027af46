#include "tools/make_image/development_image.h"

#include <array>
#include <span>
#include <string_view>

#include "device/keystream.h"
#include "device/messages.h"
#include "image/track_walker.h"

using device::CommandData;
using device::CommandHeader;
using device::CommandReset;
using device::KeystreamSeed;
using device::Mfr;
using device::PacketCommandAt;
using device::RescramblePayload;
using device::TarvonicModelId;
using image::MetaCopyright;
using image::MetaEndOfTrack;
using image::MetaMarker;
using image::MetaSequencerSpecific;
using image::MetaSetTempo;
using image::MetaText;
using image::MetaTrackName;

namespace {

constexpr std::uint16_t Division = 50;
constexpr std::uint8_t DeviceByte = 0x7F;
constexpr std::size_t PacketFraming = 9;  // F0 MFR device model command checksum ... F7

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

// Writes events with delta time 0 and an explicit status byte each.
class TrackWriter {
 public:
  void Meta(std::uint8_t type, std::span<const std::uint8_t> data) {
    bytes_.push_back(0x00);
    bytes_.push_back(0xFF);
    bytes_.push_back(type);
    VarLen(data.size());
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void Text(std::uint8_t type, std::string_view text) {
    Meta(type, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  }
  // `message` is a whole SysEx message; the event stores it without its F0.
  void SysEx(std::span<const std::uint8_t> message) {
    bytes_.push_back(0x00);
    bytes_.push_back(0xF0);
    VarLen(message.size() - 1);
    bytes_.insert(bytes_.end(), message.begin() + 1, message.end());
  }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  void VarLen(std::size_t value) {
    std::array<std::uint8_t, 5> groups{};
    std::size_t count = 0;
    do {
      groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
      value >>= 7;
    } while (value != 0 && count < groups.size());
    while (count > 1) bytes_.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
    bytes_.push_back(groups[0]);
  }
  std::vector<std::uint8_t> bytes_;
};

// F0 MFR device model command, zeros up to `length` - 1, F7.
std::vector<std::uint8_t> Packet(std::uint8_t command, std::size_t length) {
  std::vector<std::uint8_t> packet(length, 0x00);
  packet[0] = 0xF0;
  packet[1] = Mfr[0];
  packet[2] = Mfr[1];
  packet[3] = Mfr[2];
  packet[4] = DeviceByte;
  packet[5] = TarvonicModelId;
  packet[PacketCommandAt] = command;
  packet[length - 1] = 0xF7;
  return packet;
}

// A header or data packet: `plain` scrambled from `state`, as the image state
// of an upload will find it, with its checksum.
std::vector<std::uint8_t> ScrambledPacket(std::uint8_t command, std::span<const std::uint8_t> plain,
                                          std::uint16_t& state) {
  std::vector<std::uint8_t> packet = Packet(command, plain.size() + PacketFraming);
  RescramblePayload(state, plain, packet);
  return packet;
}

void AppendBE32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}
void AppendBE16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

DevelopmentImage BuildDevelopmentImage() {
  DevelopmentImage image;
  Xorshift32 random(PlainSeed);
  auto plainBytes = [&random](std::size_t count) {
    std::vector<std::uint8_t> plain(count);
    for (auto& byte : plain) byte = random.Next7Bits();
    return plain;
  };

  TrackWriter track;
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

  const std::vector<std::uint8_t>& events = track.Bytes();
  image.file.reserve(DevelopmentImageSize);
  for (char c : std::string_view("MThd")) image.file.push_back(static_cast<std::uint8_t>(c));
  AppendBE32(image.file, 6);
  AppendBE16(image.file, 0);  // format 0
  AppendBE16(image.file, 1);  // one track
  AppendBE16(image.file, Division);
  for (char c : std::string_view("MTrk")) image.file.push_back(static_cast<std::uint8_t>(c));
  AppendBE32(image.file, static_cast<std::uint32_t>(events.size()));
  image.file.insert(image.file.end(), events.begin(), events.end());
  return image;
}
