#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "image/track_walker.h"
#include "tests/image/smf_builder.h"

using namespace image;

namespace {

using smf::Bytes;

// One event as the walk reports it, in a form that compares and prints well.
struct Seen {
  TrackEventKind kind;
  std::uint8_t metaType;
  Bytes data;
  std::uint32_t dataOffset;
  TrackFault fault;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  out << "{kind " << static_cast<int>(s.kind) << ", meta " << int{s.metaType} << ", data";
  for (std::uint8_t b : s.data) out << ' ' << std::hex << int{b} << std::dec;
  return out << ", at " << s.dataOffset << ", fault " << static_cast<int>(s.fault) << '}';
}

Seen Meta(std::uint8_t type, Bytes data, std::uint32_t at) {
  return {TrackEventKind::Meta, type, std::move(data), at, TrackFault::None};
}
Seen SysEx(Bytes data, std::uint32_t at) {
  return {TrackEventKind::SysEx, 0, std::move(data), at, TrackFault::None};
}
const Seen End = {TrackEventKind::End, 0, {}, 0, TrackFault::None};
Seen Invalid(TrackFault fault) { return {TrackEventKind::Invalid, 0, {}, 0, fault}; }

// Walks until End or Invalid; the track is copied to a buffer of its exact
// size so that ASan sees any read beyond it.
std::vector<Seen> Walk(const Bytes& track) {
  const Bytes exact = track;
  TrackCursor cursor = StartTrackWalk(exact);
  std::vector<Seen> seen;
  for (int guard = 0; guard < 100; ++guard) {
    const TrackEvent e = NextTrackEvent(cursor);
    seen.push_back({e.kind, e.metaType, Bytes(e.data.begin(), e.data.end()), e.dataOffset, e.fault});
    if (e.kind == TrackEventKind::End || e.kind == TrackEventKind::Invalid) break;
  }
  return seen;
}

struct WalkCase {
  const char* name;
  Bytes track;
  std::vector<Seen> expected;
};

const WalkCase WalkCases[] = {
    {"empty track", {}, {End}},
    {"meta and sysex with explicit status",
     {0x00, 0xFF, 0x06, 0x02, 'h', 'i', 0x00, 0xF0, 0x03, 0x01, 0x02, 0xF7},
     {Meta(0x06, {'h', 'i'}, 4), SysEx({0x01, 0x02, 0xF7}, 9), End}},
    {"delta times of any length are skipped",
     {0x83, 0x80, 0x00, 0xFF, 0x01, 0x00, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x2F, 0x00},
     {Meta(0x01, {}, 6), Meta(0x2F, {}, 14), End}},
    {"two-byte length", smf::Cat({{0x00, 0xF0, 0x81, 0x00}, Bytes(128, 0x11)}),
     {SysEx(Bytes(128, 0x11), 4), End}},
    {"running status repeats a meta status",
     {0x00, 0xFF, 0x01, 0x01, 'a', 0x00, 0x03, 0x01, 'b'},
     {Meta(0x01, {'a'}, 4), Meta(0x03, {'b'}, 8), End}},
    {"running status repeats a sysex status",
     {0x00, 0xF0, 0x01, 0xF7, 0x00, 0x02, 0x05, 0xF7},
     {SysEx({0xF7}, 3), SysEx({0x05, 0xF7}, 6), End}},
    {"running status repeats whichever came last",
     {0x00, 0xFF, 0x06, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x01, 0x09, 0x00, 0xFF, 0x51, 0x00, 0x00, 0x2F, 0x00},
     {Meta(0x06, {}, 4), SysEx({}, 7), SysEx({0x09}, 9), Meta(0x51, {}, 14), Meta(0x2F, {}, 17), End}},
    {"end of track does not end the walk",
     {0x00, 0xFF, 0x2F, 0x00, 0x00, 0xFF, 0x06, 0x01, 'x'},
     {Meta(0x2F, {}, 4), Meta(0x06, {'x'}, 8), End}},
    {"delta running past the end ends the walk", {0x00, 0xFF, 0x2F, 0x00, 0x81},
     {Meta(0x2F, {}, 4), End}},
    {"data ending exactly at the track end", {0x00, 0xF0, 0x02, 0x01, 0xF7},
     {SysEx({0x01, 0xF7}, 3), End}},

    {"data byte first, no status yet", {0x00, 0x01, 0x00}, {Invalid(TrackFault::NoStatus)}},
    {"F7 escape", {0x00, 0xF7, 0x01, 0x00}, {Invalid(TrackFault::ForbiddenStatus)}},
    {"note on", {0x00, 0x90, 0x3C, 0x40}, {Invalid(TrackFault::ForbiddenStatus)}},
    {"system common F1", {0x00, 0xF1, 0x00}, {Invalid(TrackFault::ForbiddenStatus)}},
    {"meta type 04h", {0x00, 0xFF, 0x04, 0x00}, {Invalid(TrackFault::ForbiddenMetaType)}},
    {"meta type 80h and above", {0x00, 0xFF, 0x80, 0x00}, {Invalid(TrackFault::ForbiddenMetaType)}},
    {"forbidden meta after accepted ones",
     {0x00, 0xFF, 0x2F, 0x00, 0x00, 0xFF, 0x58, 0x04, 4, 2, 24, 8},
     {Meta(0x2F, {}, 4), Invalid(TrackFault::ForbiddenMetaType)}},

    // Reads that would leave the track.
    {"status byte after a delta ending at the track end", {0x00},
     {Invalid(TrackFault::Truncated)}},
    {"meta type byte cut off", {0x00, 0xFF}, {Invalid(TrackFault::Truncated)}},
    {"meta length cut off", {0x00, 0xFF, 0x01, 0x81}, {Invalid(TrackFault::Truncated)}},
    {"meta length missing", {0x00, 0xFF, 0x01}, {Invalid(TrackFault::Truncated)}},
    {"sysex length missing", {0x00, 0xF0}, {Invalid(TrackFault::Truncated)}},
    {"meta data past the end", {0x00, 0xFF, 0x01, 0x05, 'a', 'b'}, {Invalid(TrackFault::DataPastEnd)}},
    {"sysex data past the end by one", {0x00, 0xF0, 0x03, 0x01, 0xF7},
     {Invalid(TrackFault::DataPastEnd)}},
    {"length with bit 31 set", {0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0xF7},
     {Invalid(TrackFault::DataPastEnd)}},
    {"running status data byte at the very end", {0x00, 0xF0, 0x00, 0x00, 0x05},
     {SysEx({}, 3), Invalid(TrackFault::DataPastEnd)}},
};

TEST(TrackWalker, ReportsEveryEventByTheTrackRules) {
  for (const WalkCase& c : WalkCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Walk(c.track), c.expected);
  }
}

TEST(TrackWalker, AcceptsExactlyTheFirmwareMetaTypes) {
  const std::vector<std::uint8_t> accepted = {0x00, 0x01, 0x02, 0x03, 0x06, 0x2F, 0x51, 0x7F};
  for (int type = 0; type < 256; ++type) {
    SCOPED_TRACE(type);
    const bool expected =
        std::find(accepted.begin(), accepted.end(), static_cast<std::uint8_t>(type)) != accepted.end();
    const Bytes track = {0x00, 0xFF, static_cast<std::uint8_t>(type), 0x00};
    const std::vector<Seen> seen = Walk(track);
    EXPECT_EQ(seen.front().kind, expected ? TrackEventKind::Meta : TrackEventKind::Invalid);
  }
}

TEST(TrackWalker, EndAndInvalidAreFinal) {
  const Bytes valid = {0x00, 0xFF, 0x2F, 0x00};
  TrackCursor cursor = StartTrackWalk(valid);
  EXPECT_EQ(NextTrackEvent(cursor).kind, TrackEventKind::Meta);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(NextTrackEvent(cursor).kind, TrackEventKind::End);

  const Bytes broken = {0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00};
  cursor = StartTrackWalk(broken);
  for (int i = 0; i < 3; ++i) {
    const TrackEvent e = NextTrackEvent(cursor);
    EXPECT_EQ(e.kind, TrackEventKind::Invalid);
    EXPECT_EQ(e.fault, TrackFault::ForbiddenStatus);
    EXPECT_EQ(e.faultOffset, 1u);
  }
}

TEST(TrackWalker, CursorOffsetIsTheNextEventAndDataStaysInsideTheTrack) {
  const Bytes track = smf::Cat({smf::Meta(0x06, "Erasing Flash..."),
                                smf::SysEx({0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x3D, 0x00, 0x00, 0xF7}),
                                smf::EndOfTrack});
  TrackCursor cursor = StartTrackWalk(track);
  std::vector<std::size_t> nextOffsets;
  for (TrackEvent e = NextTrackEvent(cursor); e.kind != TrackEventKind::End; e = NextTrackEvent(cursor)) {
    ASSERT_NE(e.kind, TrackEventKind::Invalid);
    EXPECT_EQ(e.data.data(), track.data() + e.dataOffset);
    EXPECT_EQ(cursor.offset, e.dataOffset + e.data.size());
    nextOffsets.push_back(cursor.offset);
  }
  EXPECT_EQ(nextOffsets, (std::vector<std::size_t>{20, 32, 36}));
}

}  // namespace
