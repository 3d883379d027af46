#include "tests/device/test_images.h"

#include "device/keystream.h"
#include "device/messages.h"
#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"

using namespace image;
using namespace device;
using namespace emulator;

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

}  // namespace

std::span<const std::uint8_t> Embedded() { return {EmbeddedFirmwareImage, EmbeddedFirmwareImageSize}; }

std::span<const std::uint8_t> Track(std::span<const std::uint8_t> file) {
  FirmwareImage image;
  if (!ReadFirmwareImage(file, image)) return {};
  return TrackBytes(image);
}

Bytes PlainFirmware(std::span<const std::uint8_t> track) {
  return emulator::PlainFirmwareOfTrack(track);
}

std::vector<Bytes> Messages(std::span<const std::uint8_t> track) {
  std::vector<Bytes> messages;
  TrackCursor cursor = StartTrackWalk(track);
  for (TrackEvent e = NextTrackEvent(cursor); e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx;
       e = NextTrackEvent(cursor)) {
    if (e.kind != TrackEventKind::SysEx) continue;
    Bytes message{0xF0};
    message.insert(message.end(), e.data.begin(), e.data.end());
    messages.push_back(message);
  }
  return messages;
}

std::vector<std::string> Markers(std::span<const std::uint8_t> track) {
  std::vector<std::string> markers;
  TrackCursor cursor = StartTrackWalk(track);
  for (TrackEvent e = NextTrackEvent(cursor); e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx;
       e = NextTrackEvent(cursor)) {
    if (e.kind == TrackEventKind::Meta && e.metaType == MetaMarker) markers.emplace_back(e.data.begin(), e.data.end());
  }
  return markers;
}

std::vector<Bytes> DataPayloads(std::span<const std::uint8_t> track) {
  PacketKeystream keys;
  std::vector<Bytes> payloads;
  Bytes plain(4096);
  TrackCursor cursor = StartTrackWalk(track);
  for (TrackEvent e = NextTrackEvent(cursor); e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx;
       e = NextTrackEvent(cursor)) {
    if (e.kind != TrackEventKind::SysEx) continue;
    Bytes message{0xF0};
    message.insert(message.end(), e.data.begin(), e.data.end());
    if (keys.OnPacketRead(message, plain) == PacketKind::Data) {
      payloads.emplace_back(plain.begin(), plain.begin() + PayloadLength(message.size()));
    }
  }
  return payloads;
}

Bytes DataPacket(std::span<const std::uint8_t> plain, std::uint16_t state) {
  Bytes packet = CommandPacket(CommandData, plain.size() + 9);
  RescramblePayload(state, plain, packet);
  return packet;
}

std::uint16_t Stepped(std::uint16_t state, std::size_t steps) {
  for (std::size_t i = 0; i < steps; ++i) KeystreamStep(state);
  return state;
}

Bytes CommandPacket(std::uint8_t command, std::size_t length) {
  Bytes packet(length, 0x00);
  packet[0] = 0xF0;
  packet[1] = Mfr[0];
  packet[2] = Mfr[1];
  packet[3] = Mfr[2];
  packet[4] = 0x7F;
  packet[5] = TarvonicModelId;
  packet[PacketCommandAt] = command;
  packet[length - 1] = 0xF7;
  return packet;
}

Bytes ImageBuilder::Plain(std::size_t count) {
  Bytes plain(count);
  for (auto& byte : plain) {
    random_ ^= random_ << 13;
    random_ ^= random_ >> 17;
    random_ ^= random_ << 5;
    byte = static_cast<std::uint8_t>(random_ & 0x7F);
  }
  return plain;
}

ImageBuilder& ImageBuilder::Event(const Bytes& bytes) {
  events_.insert(events_.end(), bytes.begin(), bytes.end());
  return *this;
}

ImageBuilder& ImageBuilder::SysEx(const Bytes& message) {
  events_.push_back(0x00);
  events_.push_back(0xF0);
  AppendVarLen(events_, message.size() - 1);
  events_.insert(events_.end(), message.begin() + 1, message.end());
  return *this;
}

ImageBuilder& ImageBuilder::Version(std::string_view version) {
  Bytes data{'V', 'E', 'R', '_', 'V'};
  data.insert(data.end(), version.begin(), version.end());
  Bytes event{0x00, 0xFF, 0x7F};
  AppendVarLen(event, data.size());
  event.insert(event.end(), data.begin(), data.end());
  return Event(event);
}

ImageBuilder& ImageBuilder::Marker(std::string_view text) {
  Bytes event{0x00, 0xFF, 0x06};
  AppendVarLen(event, text.size());
  event.insert(event.end(), text.begin(), text.end());
  return Event(event);
}

ImageBuilder& ImageBuilder::Header(std::size_t payload) {
  key_ = KeystreamSeed;
  Bytes packet = CommandPacket(CommandHeader, payload + 9);
  RescramblePayload(key_, Plain(payload), packet);
  return SysEx(packet);
}

ImageBuilder& ImageBuilder::Data(std::size_t payload) {
  Bytes packet = CommandPacket(CommandData, payload + 9);
  RescramblePayload(key_, Plain(payload), packet);
  return SysEx(packet);
}

ImageBuilder& ImageBuilder::Reset() {
  key_ = KeystreamSeed;
  return SysEx(CommandPacket(CommandReset, 10));
}

ImageBuilder& ImageBuilder::Command(std::uint8_t command, std::size_t length) {
  return SysEx(CommandPacket(command, length));
}

ImageBuilder& ImageBuilder::EndOfTrack() { return Event({0x00, 0xFF, 0x2F, 0x00}); }

Bytes ImageBuilder::File() const {
  Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 50, 'M', 'T', 'r', 'k'};
  const auto n = static_cast<std::uint32_t>(events_.size());
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<std::uint8_t>(n >> shift));
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
