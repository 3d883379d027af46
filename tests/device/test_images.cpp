#include "tests/device/test_images.h"

#include "device/keystream.h"
#include "device/messages.h"
#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"

using namespace device;

extern const std::uint8_t EmbeddedFirmwareImage[];
extern const std::size_t EmbeddedFirmwareImageSize;

namespace test_images {
namespace {

// Every meta and SysEx event of a track, the SysEx ones with their F0.
template <typename Visit>
void Walk(std::span<const std::uint8_t> track, Visit visit) {
  image::TrackCursor cursor = image::StartTrackWalk(track);
  for (image::TrackEvent e = NextTrackEvent(cursor);
       e.kind == image::TrackEventKind::Meta || e.kind == image::TrackEventKind::SysEx; e = NextTrackEvent(cursor)) {
    Bytes bytes(e.data.begin(), e.data.end());
    if (e.kind == image::TrackEventKind::SysEx) bytes.insert(bytes.begin(), 0xF0);
    visit(e, bytes);
  }
}

}  // namespace

std::span<const std::uint8_t> Embedded() { return {EmbeddedFirmwareImage, EmbeddedFirmwareImageSize}; }

std::span<const std::uint8_t> Track(std::span<const std::uint8_t> file) {
  image::FirmwareImage image;
  return image::ReadFirmwareImage(file, image) ? image::TrackBytes(image) : std::span<const std::uint8_t>{};
}

Bytes PlainFirmware(std::span<const std::uint8_t> track) { return emulator::PlainFirmwareOfTrack(track); }

std::vector<Bytes> Messages(std::span<const std::uint8_t> track) {
  std::vector<Bytes> messages;
  Walk(track, [&](const image::TrackEvent& e, const Bytes& b) {
    if (e.kind == image::TrackEventKind::SysEx) messages.push_back(b);
  });
  return messages;
}

std::vector<std::string> Markers(std::span<const std::uint8_t> track) {
  std::vector<std::string> markers;
  Walk(track, [&](const image::TrackEvent& e, const Bytes& b) {
    if (e.kind == image::TrackEventKind::Meta && e.metaType == image::MetaMarker) markers.emplace_back(b.begin(), b.end());
  });
  return markers;
}

Bytes Plain(std::span<const std::uint8_t> track, std::uint8_t command) {
  PacketKeystream keys;
  Bytes plain(4096), found;
  Walk(track, [&](const image::TrackEvent& e, const Bytes& b) {
    if (e.kind != image::TrackEventKind::SysEx || !found.empty()) return;
    keys.OnPacketRead(b, plain);
    if (b.size() >= ScrambledPacketMinimum && b[PacketCommandAt] == command)
      found.assign(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(PayloadLength(b.size())));
  });
  return found;
}

Bytes Scrambled(std::uint8_t command, std::span<const std::uint8_t> plain, std::uint16_t state, std::size_t steps) {
  for (std::size_t i = 0; i < steps; ++i) KeystreamStep(state);
  return image_writer::ScrambledPacket(command, plain, state);
}

ImageBuilder& ImageBuilder::Version(std::string_view version) {
  track_.Text(image::MetaSequencerSpecific, "VER_V" + std::string(version));
  return *this;
}

ImageBuilder& ImageBuilder::Marker(std::string_view text) {
  track_.Text(image::MetaMarker, text);
  return *this;
}

ImageBuilder& ImageBuilder::Header(std::size_t payload) {
  key_ = KeystreamSeed;
  return Data(payload, CommandHeader);
}

ImageBuilder& ImageBuilder::Data(std::size_t payload) { return Data(payload, CommandData); }

ImageBuilder& ImageBuilder::Data(std::size_t payload, std::uint8_t command) {
  Bytes plain(payload);
  for (auto& byte : plain) {  // xorshift32
    random_ ^= random_ << 13;
    random_ ^= random_ >> 17;
    random_ ^= random_ << 5;
    byte = static_cast<std::uint8_t>(random_ & 0x7F);
  }
  last_ = image_writer::ScrambledPacket(command, plain, key_);
  track_.SysEx(last_);
  return *this;
}

ImageBuilder& ImageBuilder::Again() {
  std::uint16_t next = key_;
  const Bytes plain = {static_cast<std::uint8_t>((last_.at(PacketPayloadAt) ^ KeystreamStep(next)) & 0x7F)};
  last_ = image_writer::ScrambledPacket(CommandData, plain, key_);
  track_.SysEx(last_);
  return *this;
}

ImageBuilder& ImageBuilder::Reset() {
  key_ = KeystreamSeed;
  return Command(CommandReset, 10);
}

ImageBuilder& ImageBuilder::Command(std::uint8_t command, std::size_t length) {
  track_.SysEx(image_writer::Packet(command, length));
  return *this;
}

ImageBuilder& ImageBuilder::EndOfTrack() {
  track_.Meta(image::MetaEndOfTrack, {});
  return *this;
}

Bytes ReleaseShape(int dataPackets) {
  ImageBuilder image;
  image.Version("2.00").Command(0x39).Command(0x11).Command(0x37).Command(0x11).Header().Command(0x11);
  image.Marker("Erasing Flash...").Reset().Command(0x11).Marker("Writing Sections...");
  for (int i = 0; i < dataPackets; ++i) image.Data();
  return image.Marker("Restarting...").Command(0x38).EndOfTrack().File();
}

Bytes ShortPackets(int dataPackets) {
  ImageBuilder image;
  image.Version("2.00").Command(0x39).Header().Marker("Erasing Flash...").Reset().Marker("Writing Sections...");
  for (int i = 0; i < dataPackets; ++i) {
    if (i % 8 == 1) {
      image.Again();
    } else {
      image.Data(i % 2 == 0 ? 1 : 2);
    }
  }
  return image.Marker("Restarting...").Command(0x38).EndOfTrack().File();
}

}  // namespace test_images
