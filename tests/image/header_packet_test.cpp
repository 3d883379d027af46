#include <gtest/gtest.h>

#include "device/keystream.h"
#include "image/track_walker.h"
#include "tests/image/smf_builder.h"

using namespace image;
using namespace device;

namespace {

using smf::Bytes;
using smf::Cat;

Bytes Packet(std::uint8_t command, std::size_t length, std::uint8_t fill = 0x00) {
  Bytes packet(length, fill);
  const Bytes framing = {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, command};
  std::copy(framing.begin(), framing.begin() + static_cast<long>(std::min(length, framing.size())),
            packet.begin());
  packet.back() = 0xF7;
  return packet;
}

struct HeaderCase {
  const char* name;
  Bytes track;
  Bytes expected;  // empty: no header packet
};

const HeaderCase HeaderCases[] = {
    {"empty track", {}, {}},
    {"only plain commands", Cat({smf::SysEx(Packet(0x11, 8)), smf::SysEx(Packet(0x3B, 125))}), {}},
    // Nine bytes with 3Ah at position 6: too short to be taken by command.
    {"nine-byte message with 3Ah", smf::SysEx(Packet(0x3A, 9)), {}},
    {"ten-byte header is the smallest", smf::SysEx(Packet(0x3A, 10, 0x55)), Packet(0x3A, 10, 0x55)},
    {"first of two headers",
     Cat({smf::SysEx(Packet(0x11, 8)), smf::SysEx(Packet(0x3A, 126, 0x01)), smf::SysEx(Packet(0x3A, 126, 0x02))}),
     Packet(0x3A, 126, 0x01)},
    {"header after end of track and markers",
     Cat({smf::EndOfTrack, smf::Meta(0x06, "Erasing Flash..."), smf::SysEx(Packet(0x3A, 12, 0x33))}),
     Packet(0x3A, 12, 0x33)},
    {"header given by running status",
     Cat({smf::SysEx(Packet(0x11, 8)), {0x00, 0x09, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x3A, 0x44, 0x44, 0xF7}}),
     Packet(0x3A, 10, 0x44)},
    {"header of another maker counts: only the command is looked at",
     smf::SysEx({0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x3A, 0x00, 0x00, 0xF7}),
     {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x3A, 0x00, 0x00, 0xF7}},
    {"header without F7 is returned as stored", {0x00, 0xF0, 0x09, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x3A, 0x01, 0x02, 0x03},
     {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x3A, 0x01, 0x02, 0x03}},
    {"invalid event before the header", Cat({{0x00, 0x90, 0x3C, 0x40}, smf::SysEx(Packet(0x3A, 126))}), {}},
    {"truncated event before the header", {0x00, 0xF0, 0x7F, 0x00, 0x6D}, {}},
};

TEST(FindHeaderPacket, ReturnsTheFirstHeaderAsStoredWithItsF0) {
  for (const HeaderCase& c : HeaderCases) {
    SCOPED_TRACE(c.name);
    const Bytes track = c.track;
    const Bytes found = FindHeaderPacket(track);
    EXPECT_EQ(found, c.expected);
    // The upload's keystream must take the same message for a header.
    if (!found.empty()) {
      EXPECT_EQ(ClassifyPacket(found), PacketKind::Header);
    }
  }
}

}  // namespace
