// Public Standard MIDI test files: none may crash the reader or make it read
// outside the file, and the verdicts of a few checked by hand are pinned.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/track_walker.h"

using namespace image;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(PublicCorpus, EveryFileIsReadWithoutCrashAndValidMeansWalkable) {
  std::size_t files = 0, valid = 0;
  for (const auto& entry : fs::directory_iterator(KF_CORPUS_DIR)) {
    if (entry.path().filename() == "LICENSE.md") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    const Bytes bytes = ReadFile(entry.path());  // exactly sized for ASan
    FirmwareImage image;
    ImageFault fault;
    if (!ReadFirmwareImage(bytes, image, &fault)) {
      EXPECT_LE(fault.offset, bytes.size());
      continue;
    }
    ++valid;
    // A valid image walks to its end with the walker the upload uses.
    TrackCursor cursor = StartTrackWalk(TrackBytes(image));
    TrackEvent e;
    do e = NextTrackEvent(cursor);
    while (e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx);
    EXPECT_EQ(e.kind, TrackEventKind::End);
    EXPECT_LT(std::strlen(image.version), FirmwareVersionSize);
    (void)FindHeaderPacket(TrackBytes(image));  // walked for crashes only
  }
  EXPECT_EQ(files, 73u);
  EXPECT_GT(valid, 0u);
}

struct Verdict {
  bool valid;
  std::uint32_t trackLength;  // valid files only
};

// Checked by reading the bytes: format-0 files of meta and SysEx events only
// are valid; any channel message, another format, a forbidden meta type or a
// byte beyond the last chunk makes a file invalid.
const std::map<std::string, Verdict> HandChecked = {
    {"test-empty.mid", {true, 4}},                         // end of track only
    {"test-sysex-7e-06-01-id-request.mid", {true, 183}},   // texts and one SysEx
    {"test-silence-text-metaevent.mid", {true, 184}},      // texts, a two-byte delta
    {"test-empty-file.mid", {false, 0}},                   // zero bytes
    {"test-not-a-midi-file.mid", {false, 0}},              // no MThd
    {"test-syx-7e-06-01-id-request.syx", {false, 0}},      // raw SysEx, no SMF
    {"test-2-tracks-type-0.mid", {false, 0}},              // format 0 claiming two tracks
    {"test-2-tracks-type-1.mid", {false, 0}},              // format 1
    {"test-smpte-offset.mid", {false, 0}},                 // meta type 54h first
    {"test-c-major-scale.mid", {false, 0}},                // note messages
    {"test-running-status-sysex.mid", {false, 0}},         // note messages around a SysEx
    {"test-corrupt-file-extra-byte.mid", {false, 0}},      // one byte after the last chunk
    {"test-corrupt-file-missing-byte.mid", {false, 0}},    // MTrk longer than the file
};

TEST(PublicCorpus, HandCheckedVerdicts) {
  for (const auto& [name, verdict] : HandChecked) {
    SCOPED_TRACE(name);
    const Bytes bytes = ReadFile(fs::path(KF_CORPUS_DIR) / name);
    FirmwareImage image;
    ASSERT_EQ(ReadFirmwareImage(bytes, image), verdict.valid);
    if (verdict.valid) {
      EXPECT_EQ(image.trackLength, verdict.trackLength);
      EXPECT_STREQ(image.version, "");
    }
  }
}

}  // namespace
