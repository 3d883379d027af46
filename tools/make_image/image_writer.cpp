#include "tools/make_image/image_writer.h"

#include <array>

#include "device/keystream.h"
#include "device/messages.h"

namespace image_writer {
namespace {

constexpr std::uint16_t Division = 50;
constexpr std::uint8_t DeviceByte = 0x7F;

void AppendBE(Bytes& out, std::uint32_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

Bytes Packet(std::uint8_t command, std::size_t length) {
  Bytes packet(length, 0x00);
  packet[0] = 0xF0;
  packet[1] = device::Mfr[0];
  packet[2] = device::Mfr[1];
  packet[3] = device::Mfr[2];
  packet[4] = DeviceByte;
  packet[5] = device::TarvonicModelId;
  packet[device::PacketCommandAt] = command;
  packet[length - 1] = 0xF7;
  return packet;
}

Bytes ScrambledPacket(std::uint8_t command, std::span<const std::uint8_t> plain, std::uint16_t& state) {
  Bytes packet = Packet(command, plain.size() + PacketFraming);
  device::RescramblePayload(state, plain, packet);
  return packet;
}

void TrackWriter::Meta(std::uint8_t type, std::span<const std::uint8_t> data) {
  events_.insert(events_.end(), {0x00, 0xFF, type});
  VarLen(data.size());
  events_.insert(events_.end(), data.begin(), data.end());
}

void TrackWriter::Text(std::uint8_t type, std::string_view text) {
  Meta(type, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

void TrackWriter::SysEx(std::span<const std::uint8_t> message) {
  events_.insert(events_.end(), {0x00, 0xF0});
  VarLen(message.size() - 1);
  events_.insert(events_.end(), message.begin() + 1, message.end());
}

void TrackWriter::VarLen(std::size_t value) {
  std::array<std::uint8_t, 5> groups{};
  std::size_t count = 0;
  do {
    groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0 && count < groups.size());
  while (count > 1) events_.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
  events_.push_back(groups[0]);
}

Bytes File(std::span<const std::uint8_t> events) {
  Bytes file = {'M', 'T', 'h', 'd'};
  AppendBE(file, 6, 4);
  AppendBE(file, 0, 2);  // format 0
  AppendBE(file, 1, 2);  // one track
  AppendBE(file, Division, 2);
  file.insert(file.end(), {'M', 'T', 'r', 'k'});
  AppendBE(file, static_cast<std::uint32_t>(events.size()), 4);
  file.insert(file.end(), events.begin(), events.end());
  return file;
}

}  // namespace image_writer
