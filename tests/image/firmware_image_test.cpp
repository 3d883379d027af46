#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "tests/image/smf_builder.h"

using namespace image;

namespace {

using smf::Bytes;
using smf::Cat;
using smf::Chunk;
using smf::EndOfTrack;
using smf::Header;
using smf::Image;
using smf::Meta;
using smf::SysEx;

constexpr std::uint8_t Tempo = 0x51;
constexpr std::uint8_t Sequencer = 0x7F;
const Bytes AnyPacket = {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x11, 0xF7};

struct ImageCase {
  const char* name;
  Bytes file;
  bool valid;
  const char* version = "";
};

// Valid shapes: what the reader must accept and what version it keeps.
const ImageCase ValidCases[] = {
    {"header and end of track", Image(EndOfTrack), true},
    {"no MTrk chunk at all", Header(), true},
    {"empty MTrk chunk", Image({}), true},
    {"version event", Image(Cat({Meta(Sequencer, "VER_V1.91"), EndOfTrack})), true, "1.91"},
    {"version prefix in lower case", Image(Meta(Sequencer, "ver_v2.00")), true, "2.00"},
    {"version prefix in mixed case", Image(Meta(Sequencer, "vEr_V3")), true, "3"},
    {"version of exactly 19 characters", Image(Meta(Sequencer, "VER_V1234567890123456789")), true,
     "1234567890123456789"},
    {"version of more than 19 characters is cut",
     Image(Meta(Sequencer, "VER_V1234567890123456789ABCDEF")), true, "1234567890123456789"},
    {"empty version after the prefix", Image(Meta(Sequencer, "VER_V")), true, ""},
    {"later version event replaces an earlier one",
     Image(Cat({Meta(Sequencer, "VER_V1.00"), Meta(Sequencer, "VER_V1.91")})), true, "1.91"},
    {"later empty version replaces an earlier one",
     Image(Cat({Meta(Sequencer, "VER_V1.00"), Meta(Sequencer, "VER_V")})), true, ""},
    {"other sequencer data is ignored",
     Image(Cat({Meta(Sequencer, "VER_V1.91"), Meta(Sequencer, "XYZ_V9.99")})), true, "1.91"},
    {"sequencer data shorter than the prefix is not a version",
     Image(Cat({Meta(Sequencer, "VER_V1.91"), Meta(Sequencer, "VER_")})), true, "1.91"},
    // The next event's delta byte is 'V'; the short event must not borrow it.
    {"short sequencer data followed by a V byte",
     Image(Cat({{0x00, 0xFF, 0x7F, 0x04, 'V', 'E', 'R', '_'}, {'V', 0xFF, 0x01, 0x02, '9', '9'}})),
     true},
    {"empty sequencer data", Image(Meta(Sequencer, "")), true},
    {"version after end of track is taken",
     Image(Cat({EndOfTrack, Meta(Sequencer, "VER_V2.01")})), true, "2.01"},
    {"every accepted meta type",
     Image(Cat({Meta(0x00, Bytes{0, 1}), Meta(0x01, "t"), Meta(0x02, "c"), Meta(0x03, "n"),
                Meta(0x06, "m"), Meta(Tempo, Bytes{7, 0xA1, 0x20}), EndOfTrack})),
     true},
    {"sysex without F7 and of another maker",
     Image(Cat({SysEx({0xF0, 0x43, 0x10, 0x4C}), SysEx({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7})})), true},
    {"delta time running past the end", Image(Cat({Meta(Sequencer, "VER_V1.91"), {0x81, 0x81}})), true,
     "1.91"},
    {"running status across meta and sysex",
     Image(Cat({SysEx(AnyPacket), {0x00, 0x02, 0x05, 0xF7}, Meta(0x06, "x"), {0x00, 0x7F, 0x06},
                smf::Text("VER_V7")})),
     true, "7"},
    {"second MThd that is also good", Cat({Header(), Chunk("MTrk", EndOfTrack), Header()}), true},
    {"unknown chunks are skipped",
     Cat({Header(), Chunk("XKLM", {1, 2, 3}), Chunk("MTrk", Meta(Sequencer, "VER_V5")), Chunk("abcd", {})}),
     true, "5"},
    {"the last MTrk is the track",
     Cat({Header(), Chunk("MTrk", Meta(Sequencer, "VER_V1")), Chunk("MTrk", Meta(Sequencer, "VER_V2"))}),
     true, "2"},
    {"an earlier MTrk is not walked",
     Cat({Header(), Chunk("MTrk", {0x00, 0x90, 0x3C, 0x40}), Chunk("MTrk", EndOfTrack)}), true},
};

// Invalid shapes, including every read that would leave the file or track.
const ImageCase InvalidCases[] = {
    {"empty file", {}, false},
    {"three bytes", smf::Text("MTh"), false},
    {"MThd id only", smf::Text("MThd"), false},
    {"does not start with MThd", Cat({Chunk("MTrk", EndOfTrack), Header()}), false},
    {"RIFF wrapper", Cat({Chunk("RIFF", Image(EndOfTrack))}), false},
    {"MThd length 7", Cat({Chunk("MThd", {0, 0, 0, 1, 0, 50, 0}), Chunk("MTrk", EndOfTrack)}), false},
    {"MThd length 6 cut off by the file end", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1}, false},
    {"format 1", Cat({Header(1, 1), Chunk("MTrk", EndOfTrack)}), false},
    {"two tracks", Cat({Header(0, 2), Chunk("MTrk", EndOfTrack), Chunk("MTrk", EndOfTrack)}), false},
    {"zero tracks", Header(0, 0), false},
    {"bad second MThd", Cat({Header(), Chunk("MTrk", EndOfTrack), Header(1, 1)}), false},
    {"one byte after the last chunk", Cat({Image(EndOfTrack), {0x00}}), false},
    {"seven bytes after the last chunk", Cat({Image(EndOfTrack), {'M', 'T', 'r', 'k', 0, 0, 0}}), false},
    {"MTrk length one past the file end",
     Cat({Header(), {'M', 'T', 'r', 'k', 0, 0, 0, 5}, EndOfTrack}), false},
    {"unknown chunk past the file end", Cat({Header(), {'X', 'K', 'L', 'M', 0, 0, 1, 0, 1, 2}}), false},
    {"chunk length that would wrap the offset",
     Cat({Header(), {'X', 'K', 'L', 'M', 0xFF, 0xFF, 0xFF, 0xF8}, Chunk("MTrk", EndOfTrack)}), false},
    {"first event without status", Image({0x00, 0x01, 0x00}), false},
    {"F7 event", Image({0x00, 0xF7, 0x01, 0xF7}), false},
    {"note on", Image(Cat({Meta(Sequencer, "VER_V1.91"), {0x00, 0x90, 0x3C, 0x40}})), false},
    {"meta type 04h", Image(Meta(0x04, "instrument")), false},
    {"meta type 05h", Image(Meta(0x05, "lyric")), false},
    {"meta type 07h", Image(Meta(0x07, "cue")), false},
    {"meta type 20h", Image(Meta(0x20, Bytes{0})), false},
    {"meta type 54h", Image(Meta(0x54, Bytes{0, 1, 0, 0, 0})), false},
    {"meta type 58h", Image(Meta(0x58, Bytes{4, 2, 24, 8})), false},
    {"meta type 59h", Image(Meta(0x59, Bytes{0, 0})), false},
    {"meta type 80h", Image(Meta(0x80, Bytes{})), false},
    {"forbidden event after end of track", Image(Cat({EndOfTrack, {0x00, 0xF7, 0x00}})), false},
    {"status byte would follow the track end", Image({0x00, 0xFF, 0x2F, 0x00, 0x00}), false},
    {"meta type would follow the track end", Image({0x00, 0xFF}), false},
    {"meta length unreadable", Image({0x00, 0xFF, 0x7F, 0x85}), false},
    {"sysex length unreadable", Image({0x00, 0xF0, 0x85}), false},
    {"meta data past the track end", Image({0x00, 0xFF, 0x7F, 0x09, 'V', 'E', 'R', '_', 'V'}), false},
    {"sysex data past the track end", Image({0x00, 0xF0, 0x07, 0x00, 0x6D, 0x1C, 0xF7}), false},
    // The track chunk is followed by another chunk; the data must not run on
    // into it even though the bytes are there.
    {"sysex data into the next chunk",
     Cat({Header(), Chunk("MTrk", {0x00, 0xF0, 0x07, 0x00}), Chunk("XKLM", {1, 2, 3, 4, 5, 6, 7})}), false},
    {"meta length with bit 31 set", Image({0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}), false},
};

void CheckCase(const ImageCase& c) {
  SCOPED_TRACE(c.name);
  const Bytes exact = c.file;  // exactly sized, so ASan sees any overread
  FirmwareImage image;
  image.trackLength = 77;  // must be reset on failure
  ImageFault fault;
  ASSERT_EQ(ReadFirmwareImage(exact, image, &fault), c.valid) << fault.text << " at " << fault.offset;
  if (c.valid) {
    EXPECT_STREQ(image.version, c.version);
    if (image.trackLength > 0) {
      EXPECT_GE(image.track, exact.data());
      EXPECT_LE(image.track + image.trackLength, exact.data() + exact.size());
    }
  } else {
    EXPECT_EQ(image.track, nullptr);
    EXPECT_EQ(image.trackLength, 0u);
    EXPECT_STREQ(image.version, "");
    EXPECT_STRNE(fault.text, "");
    EXPECT_LE(fault.offset, exact.size());
  }
}

TEST(ReadFirmwareImage, AcceptsTheFirmwareShapes) {
  for (const ImageCase& c : ValidCases) CheckCase(c);
}

TEST(ReadFirmwareImage, RefusesMalformedImagesWithoutReadingOutsideThem) {
  for (const ImageCase& c : InvalidCases) CheckCase(c);
}

TEST(ReadFirmwareImage, TrackPointsAtTheLastMTrkData) {
  const Bytes file = Cat({Header(), Chunk("MTrk", EndOfTrack), Chunk("MTrk", Meta(0x01, "abc"))});
  FirmwareImage image;
  ASSERT_TRUE(ReadFirmwareImage(file, image));
  EXPECT_EQ(image.track, file.data() + 14 + 8 + 4 + 8);
  EXPECT_EQ(image.trackLength, 7u);
}

TEST(ReadFirmwareImage, ImageWithoutTrackHasAnEmptyTrack) {
  const Bytes file = Header();
  FirmwareImage image;
  ASSERT_TRUE(ReadFirmwareImage(file, image));
  EXPECT_EQ(image.trackLength, 0u);
  EXPECT_TRUE(TrackBytes(image).empty());
}

TEST(ReadFirmwareImage, FaultNamesTheOffendingEvent) {
  const Bytes file = Image(Cat({EndOfTrack, {0x00, 0x90, 0x3C, 0x40}}));
  FirmwareImage image;
  ImageFault fault;
  ASSERT_FALSE(ReadFirmwareImage(file, image, &fault));
  EXPECT_EQ(fault.offset, 14u + 8u + 4u + 1u);  // the status byte after the second delta
  EXPECT_STREQ(fault.text, "status byte other than FFh or F0h");
}

TEST(LoadFirmwareImage, FillsTheProcessImageAndEmptiesItOnFailure) {
  EXPECT_EQ(LoadedFirmwareImage().track, nullptr);
  static const Bytes good = Image(Cat({Meta(Sequencer, "VER_V1.91"), EndOfTrack}));
  ASSERT_TRUE(LoadFirmwareImage(good));
  EXPECT_STREQ(LoadedFirmwareImage().version, "1.91");
  EXPECT_EQ(LoadedFirmwareImage().track, good.data() + 22);
  EXPECT_EQ(LoadedFirmwareImage().trackLength, 17u);

  static const Bytes bad = Image({0x00, 0x90, 0x3C, 0x40});
  EXPECT_FALSE(LoadFirmwareImage(bad));
  EXPECT_EQ(LoadedFirmwareImage().track, nullptr);
  EXPECT_EQ(LoadedFirmwareImage().trackLength, 0u);
  EXPECT_STREQ(LoadedFirmwareImage().version, "");
}

}  // namespace
