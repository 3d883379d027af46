#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "device/keystream.h"

using namespace device;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A packet F0 00 6D 1C 7F 41 <command> <checksum> <payload...> F7 with a
// payload of `payloadLength` bytes.
Bytes MakePacket(std::uint8_t command, std::size_t payloadLength, std::uint8_t fill = 0x11) {
  Bytes p = {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, command, 0x00};
  for (std::size_t i = 0; i < payloadLength; ++i) p.push_back(static_cast<std::uint8_t>((fill + i * 7) & 0x7F));
  p.push_back(0xF7);
  return p;
}

std::uint16_t Stepped(std::uint16_t state, std::size_t steps) {
  for (std::size_t i = 0; i < steps; ++i) KeystreamStep(state);
  return state;
}

TEST(KeystreamStep, FollowsTheSixteenBitRecurrence) {
  // Values worked out by hand from state := (A - state * M) mod 2^16.
  std::uint16_t state = KeystreamSeed;
  const std::array<std::uint16_t, 5> expected = {0x48E8, 0x8E4F, 0xFB14, 0x1E13, 0xC220};
  for (std::uint16_t want : expected) {
    const std::uint8_t high = KeystreamStep(state);
    EXPECT_EQ(state, want);
    EXPECT_EQ(high, want >> 8);
  }
}

TEST(KeystreamStep, DiscardsTheProductsHighBits) {
  struct Case { std::uint16_t from, to; };
  for (const Case c : {Case{0x0000, 0x3A17}, Case{0xFFFF, 0xA524}, Case{0x0001, 0xCF0A}}) {
    std::uint16_t state = c.from;
    KeystreamStep(state);
    EXPECT_EQ(state, c.to) << std::hex << c.from;
  }
}

TEST(ClassifyPacket, OnlyMessagesOfTenBytesOrMoreAreExamined) {
  struct Case { std::uint8_t command; std::size_t payload; PacketKind kind; };
  const Case cases[] = {
      {CommandHeader, 1, PacketKind::Header}, {CommandData, 1, PacketKind::Data},
      {CommandReset, 1, PacketKind::Reset},   {0x11, 20, PacketKind::Plain},
      {0x37, 20, PacketKind::Plain},          {0x38, 20, PacketKind::Plain},
      {0x39, 20, PacketKind::Plain},          {CommandHeader, 0, PacketKind::Plain},
      {CommandData, 0, PacketKind::Plain},    {CommandReset, 0, PacketKind::Plain},
  };
  for (const Case& c : cases) {
    const Bytes packet = MakePacket(c.command, c.payload);
    EXPECT_EQ(ClassifyPacket(packet), c.kind) << std::hex << int(c.command) << " " << packet.size();
  }
}

TEST(PacketKeystream, HeaderResetsBothStatesAndSavesAfterItsPayload) {
  for (std::size_t payload : {std::size_t{1}, std::size_t{117}}) {
    PacketKeystream keys;
    keys.image = 0x1234;
    keys.transmit = 0x5678;
    std::array<std::uint8_t, 2040> plain{};
    EXPECT_EQ(keys.OnPacketRead(MakePacket(CommandHeader, payload), plain), PacketKind::Header);
    EXPECT_EQ(keys.image, Stepped(KeystreamSeed, payload)) << payload;
    EXPECT_EQ(keys.saved, keys.image);
    EXPECT_EQ(keys.transmit, KeystreamSeed);
  }
}

TEST(PacketKeystream, ResetAndPlainPackets) {
  std::array<std::uint8_t, 2040> plain{};
  PacketKeystream keys;
  keys.image = 0x1111;
  keys.transmit = 0x2222;
  keys.saved = 0x3333;
  for (std::uint8_t command : std::array<std::uint8_t, 4>{0x11, 0x37, 0x38, 0x39}) {
    EXPECT_EQ(keys.OnPacketRead(MakePacket(command, 30), plain), PacketKind::Plain);
  }
  // Nine bytes or fewer: sent as stored whatever the command byte says.
  EXPECT_EQ(keys.OnPacketRead(MakePacket(CommandData, 0), plain), PacketKind::Plain);
  EXPECT_EQ(keys.OnPacketRead(MakePacket(CommandHeader, 0), plain), PacketKind::Plain);
  EXPECT_EQ(keys.image, 0x1111);
  EXPECT_EQ(keys.transmit, 0x2222);
  EXPECT_EQ(keys.saved, 0x3333);

  EXPECT_EQ(keys.OnPacketRead(MakePacket(CommandReset, 1), plain), PacketKind::Reset);
  EXPECT_EQ(keys.image, KeystreamSeed);
  EXPECT_EQ(keys.transmit, KeystreamSeed);
  EXPECT_EQ(keys.saved, 0x3333);
}

TEST(PacketKeystream, ResynchronisationBeforeAnyHeaderFallsBackToTheSeed) {
  PacketKeystream keys;
  keys.transmit = 0x7777;
  keys.OnResynchronised();
  EXPECT_EQ(keys.transmit, KeystreamSeed);
}

// The image stores header and data packets scrambled from the image state.
// Builds such a track: header, reset, then data packets.
struct ScrambledTrack {
  std::vector<Bytes> packets;
  std::vector<Bytes> plains;
};

ScrambledTrack MakeTrack() {
  ScrambledTrack t;
  std::uint16_t image = 0;
  std::uint8_t seed = 3;
  auto add = [&](std::uint8_t command, std::size_t payload) {
    Bytes packet = MakePacket(command, payload);
    Bytes plain(PayloadLength(packet.size()));
    for (auto& b : plain) b = seed = static_cast<std::uint8_t>((seed * 37 + 11) & 0x7F);
    if (command == CommandHeader || command == CommandReset) image = KeystreamSeed;
    if (command != CommandReset) RescramblePayload(image, plain, packet);
    t.packets.push_back(packet);
    t.plains.push_back(plain);
  };
  add(CommandHeader, 117);
  add(CommandReset, 1);
  for (int i = 0; i < 5; ++i) add(CommandData, 116);
  add(CommandData, 9);
  return t;
}

TEST(PacketKeystream, AnUploadAnsweredAtOnceSendsTheStoredBytes) {
  const ScrambledTrack track = MakeTrack();
  PacketKeystream keys;
  std::array<std::uint8_t, 2040> plain{};
  for (std::size_t i = 0; i < track.packets.size(); ++i) {
    const Bytes& stored = track.packets[i];
    const PacketKind kind = keys.OnPacketRead(stored, plain);
    Bytes sent = stored;
    if (IsScrambled(kind)) {
      EXPECT_TRUE(std::equal(track.plains[i].begin(), track.plains[i].end(), plain.begin())) << i;
      keys.BeginAttempt(plain, sent);
      keys.OnAttemptAnswered();
    }
    EXPECT_EQ(sent, stored) << "packet " << i;
    EXPECT_EQ(sent[PacketChecksumAt], kind == PacketKind::Reset ? stored[PacketChecksumAt] : PayloadChecksum(sent));
  }
}

TEST(PacketKeystream, RetriesKeepThePlainPayloadButNotTheBytes) {
  const ScrambledTrack track = MakeTrack();
  PacketKeystream keys;
  std::array<std::uint8_t, 2040> plain{};
  keys.OnPacketRead(track.packets[0], plain);
  Bytes header = track.packets[0];
  keys.BeginAttempt(plain, header);
  keys.OnAttemptAnswered();
  keys.OnPacketRead(track.packets[1], plain);  // reset
  const Bytes& stored = track.packets[2];
  keys.OnPacketRead(stored, plain);

  // No reply: the transmit state stays, the same bytes go out again.
  Bytes first = stored, second = stored;
  keys.BeginAttempt(plain, first);
  keys.BeginAttempt(plain, second);
  EXPECT_EQ(first, stored);
  EXPECT_EQ(second, stored);

  // A reply asking again: the instrument's keystream moved on by the payload,
  // so the packet leaves differently scrambled, with a fresh checksum.
  keys.OnAttemptAnswered();
  Bytes third = stored;
  keys.BeginAttempt(plain, third);
  EXPECT_NE(third, stored);
  EXPECT_EQ(third[PacketChecksumAt], PayloadChecksum(third));
  std::uint16_t replay = Stepped(KeystreamSeed, PayloadLength(stored.size()));
  std::array<std::uint8_t, 2040> recovered{};
  DescramblePayload(replay, third, recovered);
  EXPECT_TRUE(std::equal(track.plains[2].begin(), track.plains[2].end(), recovered.begin()));

  // After a successful resynchronisation it is re-scrambled from the saved
  // state, the position right after the header.
  keys.OnResynchronised();
  Bytes fourth = stored;
  keys.BeginAttempt(plain, fourth);
  std::uint16_t fromSaved = Stepped(KeystreamSeed, 117);
  DescramblePayload(fromSaved, fourth, recovered);
  EXPECT_TRUE(std::equal(track.plains[2].begin(), track.plains[2].end(), recovered.begin()));
}

TEST(RescramblePayload, EveryByteStaysSevenBit) {
  Bytes packet = MakePacket(CommandData, 200);
  Bytes plain(200, 0x7F);
  std::uint16_t state = 0;
  for (int round = 0; round < 50; ++round) {
    RescramblePayload(state, plain, packet);
    for (std::size_t i = 1; i + 1 < packet.size(); ++i) ASSERT_LT(packet[i], 0x80) << i;
  }
}

}  // namespace
