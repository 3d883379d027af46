// The image reader's own logic: the track walk, the chunk rules, the
// version and every read's bound, and the header packet. Every input sits in a
// buffer of exactly its size, so that ASan sees any read beyond it.
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/track_walker.h"
#include "tools/make_image/image_writer.h"

using namespace image;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }
Bytes Chunk(std::string_view id, const Bytes& data) {
  const auto n = static_cast<std::uint32_t>(data.size());
  return Cat({Text(id), {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)}, data});
}
Bytes Header(std::uint8_t format = 0, std::uint8_t tracks = 1) { return Chunk("MThd", {0, format, 0, tracks, 0, 50}); }
Bytes Image(const Bytes& events) { return Cat({Header(), Chunk("MTrk", events)}); }
// Delta 0 and a meta event of fewer than 128 data bytes.
Bytes Meta(std::uint8_t type, std::string_view text) {
  return Cat({{0x00, 0xFF, type, static_cast<std::uint8_t>(text.size())}, Text(text)});
}
const Bytes EndOfTrack = {0x00, 0xFF, 0x2F, 0x00};

// The walk as text: "FF06 4+2" for a meta event of type 06h whose data are
// the 2 bytes at offset 4, "F0 9+3" for SysEx data, "end", or the fault and
// where its event began ("NoStatus@1"). Offset and length pin the data.
std::string Walk(const Bytes& track) {
  const char* faults[] = {"", "NoStatus", "ForbiddenStatus", "ForbiddenMetaType", "Truncated", "DataPastEnd"};
  TrackCursor cursor = StartTrackWalk(track);
  std::string seen;
  for (;;) {
    const TrackEvent e = NextTrackEvent(cursor);
    char text[40];
    if (e.kind == TrackEventKind::End) std::snprintf(text, sizeof text, "end");
    if (e.kind == TrackEventKind::Invalid) std::snprintf(text, sizeof text, "%s@%u", faults[int(e.fault)], e.faultOffset);
    if (e.kind == TrackEventKind::Meta) std::snprintf(text, sizeof text, "FF%02X %u+%zu ", e.metaType, e.dataOffset, e.data.size());
    if (e.kind == TrackEventKind::SysEx) std::snprintf(text, sizeof text, "F0 %u+%zu ", e.dataOffset, e.data.size());
    seen += text;
    if (e.kind != TrackEventKind::End && e.kind != TrackEventKind::Invalid) continue;
    EXPECT_EQ(NextTrackEvent(cursor).kind, e.kind) << "final";
    return seen;
  }
}

TEST(TrackWalker, ReportsEveryEventByTheTrackRules) {
  struct Case {
    const char* name;
    Bytes track;
    const char* expected;
  };
  const Case cases[] = {
      {"empty track", {}, "end"},
      {"meta and sysex", {0x00, 0xFF, 0x06, 0x02, 'h', 'i', 0x00, 0xF0, 0x03, 0x01, 0x02, 0xF7}, "FF06 4+2 F0 9+3 end"},
      {"long delta times", {0x83, 0x80, 0x00, 0xFF, 0x01, 0x00, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x2F, 0x00},
       "FF01 6+0 FF2F 14+0 end"},
      {"running status repeats whichever came last",
       {0x00, 0xFF, 0x06, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x01, 0x09, 0x00, 0xFF, 0x51, 0x00, 0x00, 0x2F, 0x00},
       "FF06 4+0 F0 7+0 F0 9+1 FF51 14+0 FF2F 17+0 end"},
      {"end of track does not end the walk", {0x00, 0xFF, 0x2F, 0x00, 0x00, 0xFF, 0x06, 0x01, 'x'}, "FF2F 4+0 FF06 8+1 end"},
      {"a delta running past the end ends it", {0x00, 0xFF, 0x2F, 0x00, 0x81}, "FF2F 4+0 end"},
      {"data ending at the track end", {0x00, 0xF0, 0x02, 0x01, 0xF7}, "F0 3+2 end"},
      {"no status yet", {0x00, 0x01, 0x00}, "NoStatus@1"},
      {"F7 escape", {0x00, 0xF7, 0x01, 0x00}, "ForbiddenStatus@1"},
      {"note on", {0x00, 0x90, 0x3C, 0x40}, "ForbiddenStatus@1"},
      {"forbidden meta after accepted ones", {0x00, 0xFF, 0x2F, 0x00, 0x00, 0xFF, 0x58, 0x04, 4, 2, 24, 8},
       "FF2F 4+0 ForbiddenMetaType@5"},
      {"status byte cut off", {0x00}, "Truncated@1"},
      {"meta type cut off", {0x00, 0xFF}, "Truncated@1"},
      {"meta length cut off", {0x00, 0xFF, 0x01, 0x81}, "Truncated@1"},
      {"sysex length missing", {0x00, 0xF0}, "Truncated@1"},
      {"data past the end by one", {0x00, 0xF0, 0x03, 0x01, 0xF7}, "DataPastEnd@1"},
      {"length with bit 31 set", {0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xF7}, "DataPastEnd@1"},
      {"running status at the very end", {0x00, 0xF0, 0x00, 0x00, 0x05}, "F0 3+0 DataPastEnd@4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Walk(c.track), c.expected);
  }
  // Exactly the meta types a firmware image may hold.
  for (int type = 0; type < 256; ++type) {
    const bool accepted = type <= 3 || type == 0x06 || type == 0x2F || type == 0x51 || type == 0x7F;
    EXPECT_EQ(Walk({0x00, 0xFF, static_cast<std::uint8_t>(type), 0x00}).rfind("FF", 0) == 0, accepted) << type;
  }
}

TEST(ReadFirmwareImage, ChecksTheChunksTakesTheLastTrackAndItsVersion) {
  struct Case {
    const char* name;
    Bytes file;
    const char* version;  // nullptr: invalid
    std::size_t track = 0;   // where the track's data begin in a valid file
    std::size_t length = 0;  // and how long they are
  };
  const Bytes ver = Meta(0x7F, "VER_V1.91");
  const Case cases[] = {
      {"no track at all", Header(), ""},
      {"version event", Image(Cat({ver, EndOfTrack})), "1.91", 22, 17},
      {"prefix in any case", Image(Meta(0x7F, "vEr_V3")), "3", 22, 10},
      {"cut to 19 characters", Image(Meta(0x7F, "VER_V1234567890123456789ABC")), "1234567890123456789", 22, 31},
      {"the later version wins", Image(Cat({Meta(0x7F, "VER_V1.00"), Meta(0x7F, "VER_V")})), "", 22, 22},
      {"other sequencer data", Image(Cat({ver, Meta(0x7F, "XYZ_V9.99"), Meta(0x7F, "VER_")})), "1.91", 22, 34},
      // The next event's delta byte is 'V'; the short event must not borrow it.
      {"short data before a V", Image(Cat({Meta(0x7F, "VER_"), {'V', 0xFF, 0x01, 0x02, '9', '9'}})), "", 22, 14},
      {"unknown chunks skipped", Cat({Header(), Chunk("XKLM", {1, 2, 3}), Chunk("MTrk", ver), Chunk("abcd", {})}),
       "1.91", 33, 13},
      {"the last MTrk is the track", Cat({Header(), Chunk("MTrk", {0x00, 0x90, 0x3C, 0x40}), Chunk("MTrk", ver)}),
       "1.91", 34, 13},
      {"a second good MThd", Cat({Header(), Chunk("MTrk", ver), Header()}), "1.91", 22, 13},
      // The track's last delta continues into the next chunk's id: not read.
      {"a delta cut off by the track's end", Cat({Header(), Chunk("MTrk", {0x00, 0xFF, 0x2F, 0x00, 0x81}), Header()}),
       "", 22, 5},
      {"empty file", {}, nullptr},
      {"MThd id only", Text("MThd"), nullptr},
      {"not starting with MThd", Cat({Chunk("MTrk", EndOfTrack), Header()}), nullptr},
      {"MThd length 7", Cat({Chunk("MThd", {0, 0, 0, 1, 0, 50, 0}), Chunk("MTrk", EndOfTrack)}), nullptr},
      {"MThd cut off", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1}, nullptr},
      {"format 1", Cat({Header(1), Chunk("MTrk", EndOfTrack)}), nullptr},
      {"two tracks", Cat({Header(0, 2), Chunk("MTrk", EndOfTrack)}), nullptr},
      {"a bad second MThd", Cat({Header(), Chunk("MTrk", EndOfTrack), Header(1)}), nullptr},
      {"one byte after the last chunk", Cat({Image(EndOfTrack), {0x00}}), nullptr},
      {"MTrk one byte longer than the file", Cat({Header(), {'M', 'T', 'r', 'k', 0, 0, 0, 5}, EndOfTrack}), nullptr},
      {"a length that would wrap the offset", Cat({Header(), {'X', 'K', 'L', 'M', 0xFF, 0xFF, 0xFF, 0xF8},
                                                   Chunk("MTrk", EndOfTrack)}), nullptr},
      {"a forbidden event", Image(Cat({ver, {0x00, 0x90, 0x3C, 0x40}})), nullptr},
      {"sysex data running into the next chunk", Cat({Header(), Chunk("MTrk", {0x00, 0xF0, 0x07, 0x00}),
                                                      Chunk("XKLM", {1, 2, 3, 4, 5, 6, 7})}), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FirmwareImage image;
    image.trackLength = 77;
    ImageFault fault;
    ASSERT_EQ(ReadFirmwareImage(c.file, image, &fault), c.version != nullptr) << fault.text;
    EXPECT_STREQ(image.version, c.version != nullptr ? c.version : "");
    if (c.version == nullptr) {
      EXPECT_EQ(image.track, nullptr);
      EXPECT_EQ(image.trackLength, 0u);
      EXPECT_LE(fault.offset, c.file.size());
    } else if (c.track != 0) {
      EXPECT_EQ(image.track, c.file.data() + c.track);
      EXPECT_EQ(image.trackLength, c.length);
    }
  }
  // The fault names the offending event, at its offset in the file.
  const Bytes file = Image(Cat({EndOfTrack, {0x00, 0x90, 0x3C, 0x40}}));
  FirmwareImage image;
  ImageFault fault;
  ASSERT_FALSE(ReadFirmwareImage(file, image, &fault));
  EXPECT_EQ(fault.offset, 27u);
  EXPECT_STREQ(fault.text, "status byte other than FFh or F0h");
}

TEST(FindHeaderPacket, ReturnsTheFirstTenByteOrLongerOneAsStored) {
  auto packet = [](std::uint8_t command, std::uint8_t length, std::uint8_t fill) {
    Bytes message = image_writer::Packet(command, length);
    std::fill(message.begin() + 7, message.end() - 1, fill);
    return message;
  };
  auto sysex = [&](std::uint8_t command, std::uint8_t length, std::uint8_t fill) {
    image_writer::TrackWriter track;
    track.SysEx(packet(command, length, fill));
    return track.Events();
  };
  struct Case {
    const char* name;
    Bytes track;
    Bytes expected;
  };
  const Case cases[] = {
      {"nine bytes with 3Ah", sysex(0x3A, 9, 0), {}},
      {"ten bytes", sysex(0x3A, 10, 0x55), packet(0x3A, 10, 0x55)},
      {"the first of two, after markers", Cat({Meta(0x06, "x"), sysex(0x3A, 126, 1), sysex(0x3A, 126, 2)}),
       packet(0x3A, 126, 1)},
      {"by running status", Cat({sysex(0x11, 8, 0), {0x00, 0x09, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x3A, 0x44, 0x44, 0xF7}}),
       packet(0x3A, 10, 0x44)},
      {"after an invalid event", Cat({{0x00, 0x90, 0x3C, 0x40}, sysex(0x3A, 126, 0)}), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FindHeaderPacket(c.track), c.expected);
  }
}

}  // namespace
