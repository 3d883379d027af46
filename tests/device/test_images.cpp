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

void AppendVarLen(Bytes& out, std::size_t value) {
  Bytes groups;
  do {
    groups.push_back(static_cast<std::uint8_t>(value & 0x7F));
    value >>= 7;
  } while (value != 0);
  for (std::size_t i = groups.size(); i-- > 1;) out.push_back(groups[i] | 0x80);
  out.push_back(groups[0]);
}

// Delta 0 and a meta event.
Bytes Meta(std::uint8_t type, std::string_view data) {
  Bytes event{0x00, 0xFF, type};
  AppendVarLen(event, data.size());
  event.insert(event.end(), data.begin(), data.end());
  return event;
}

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
  Bytes packet = CommandPacket(command, plain.size() + 9);
  RescramblePayload(state, plain, packet);
  return packet;
}

Bytes CommandPacket(std::uint8_t command, std::size_t length) {
  Bytes packet(length, 0x00);
  const Bytes frame = {0xF0, Mfr[0], Mfr[1], Mfr[2], 0x7F, TarvonicModelId, command};
  std::copy(frame.begin(), frame.end(), packet.begin());
  packet.back() = 0xF7;
  return packet;
}

ImageBuilder& ImageBuilder::Event(const Bytes& bytes) {
  events_.insert(events_.end(), bytes.begin(), bytes.end());
  return *this;
}

ImageBuilder& ImageBuilder::SysEx(const Bytes& message) {
  Bytes event{0x00, 0xF0};
  AppendVarLen(event, message.size() - 1);
  event.insert(event.end(), message.begin() + 1, message.end());
  return Event(event);
}

ImageBuilder& ImageBuilder::Version(std::string_view version) {
  return Event(Meta(0x7F, "VER_V" + std::string(version)));
}

ImageBuilder& ImageBuilder::Marker(std::string_view text) { return Event(Meta(image::MetaMarker, text)); }

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
  Bytes packet = CommandPacket(command, payload + 9);
  RescramblePayload(key_, plain, packet);
  return SysEx(packet);
}

ImageBuilder& ImageBuilder::Reset() {
  key_ = KeystreamSeed;
  return SysEx(CommandPacket(CommandReset, 10));
}

ImageBuilder& ImageBuilder::Command(std::uint8_t command, std::size_t length) {
  return SysEx(CommandPacket(command, length));
}

ImageBuilder& ImageBuilder::EndOfTrack() { return Event(Meta(0x2F, "")); }

Bytes ImageBuilder::File() const {
  Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 50, 'M', 'T', 'r', 'k'};
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<std::uint8_t>(events_.size() >> shift));
  file.insert(file.end(), events_.begin(), events_.end());
  return file;
}

Bytes ReleaseShape(int dataPackets) {
  ImageBuilder image;
  image.Version("2.00").Command(0x39).Command(0x11).Command(0x37).Command(0x11).Header().Command(0x11);
  image.Marker("Erasing Flash...").Reset().Command(0x11).Marker("Writing Sections...");
  for (int i = 0; i < dataPackets; ++i) image.Data();
  return image.Marker("Restarting...").Command(0x38).EndOfTrack().File();
}

}  // namespace test_images
