// Public Standard MIDI test files: none may crash the reader or make it read
// outside the file, whatever is valid walks to its end, and the verdicts of
// a few checked by hand are pinned.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

#include "image/firmware_image.h"
#include "image/track_walker.h"

using namespace image;
namespace fs = std::filesystem;

TEST(PublicCorpus, IsReadSafelyAndJudgedAsCheckedByHand) {
  // By reading the bytes: format-0 files of meta and SysEx events only are
  // valid (track length given); a channel message, another format, a
  // forbidden meta type or a byte beyond the last chunk make a file invalid.
  const std::map<std::string, std::uint32_t> valid = {
      {"test-empty.mid", 4}, {"test-sysex-7e-06-01-id-request.mid", 183}, {"test-silence-text-metaevent.mid", 184}};
  const char* invalid[] = {"test-empty-file.mid", "test-not-a-midi-file.mid", "test-syx-7e-06-01-id-request.syx",
                           "test-2-tracks-type-0.mid", "test-2-tracks-type-1.mid", "test-smpte-offset.mid",
                           "test-c-major-scale.mid", "test-corrupt-file-extra-byte.mid",
                           "test-corrupt-file-missing-byte.mid"};
  std::size_t files = 0, checked = 0;
  for (const auto& entry : fs::directory_iterator(KF_CORPUS_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name == "LICENSE.md") continue;
    SCOPED_TRACE(name);
    ++files;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    FirmwareImage image;
    ImageFault fault;
    const bool read = ReadFirmwareImage(bytes, image, &fault);
    if (valid.contains(name) || std::find(std::begin(invalid), std::end(invalid), name) != std::end(invalid)) {
      ++checked;
      EXPECT_EQ(read, valid.contains(name));
      if (read) {
        EXPECT_EQ(image.trackLength, valid.at(name));
      }
    }
    if (!read) {
      EXPECT_LE(fault.offset, bytes.size());
      continue;
    }
    TrackCursor cursor = StartTrackWalk(TrackBytes(image));
    TrackEvent e;
    do e = NextTrackEvent(cursor);
    while (e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx);
    EXPECT_EQ(e.kind, TrackEventKind::End);
    (void)FindHeaderPacket(TrackBytes(image));  // for the sanitizers
  }
  EXPECT_EQ(files, 73u);
  EXPECT_EQ(checked, 12u);
}
