// Public Standard MIDI test files: none may crash the reader or make it read
// outside the file, whatever is valid walks to its end, and the verdicts of
// a few checked by hand are pinned.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

#include "image/firmware_image.h"
#include "image/track_walker.h"

using namespace image;

TEST(PublicCorpus, IsReadSafelyAndJudgedAsCheckedByHand) {
  // Read by hand: format-0 files of meta and SysEx events only are valid; a
  // channel message, another format or a broken chunk make a file invalid.
  const std::map<std::string, bool> checked = {
      {"test-empty.mid", true}, {"test-sysex-7e-06-01-id-request.mid", true}, {"test-empty-file.mid", false},
      {"test-2-tracks-type-0.mid", false}, {"test-2-tracks-type-1.mid", false}, {"test-smpte-offset.mid", false},
      {"test-running-status-sysex.mid", false}, {"test-corrupt-file-extra-byte.mid", false}};
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KF_CORPUS_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name == "LICENSE.md") continue;
    SCOPED_TRACE(name);
    ++files;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    FirmwareImage image;
    ImageFault fault;
    const bool read = ReadFirmwareImage(bytes, image, &fault);
    if (checked.contains(name)) {
      EXPECT_EQ(read, checked.at(name));
    }
    EXPECT_LE(fault.offset, bytes.size());
    TrackCursor cursor = StartTrackWalk(TrackBytes(image));
    TrackEvent e;
    do e = NextTrackEvent(cursor);
    while (e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx);
    EXPECT_EQ(e.kind, TrackEventKind::End);  // an invalid image has an empty track
    (void)FindHeaderPacket(TrackBytes(image));  // for the sanitizers
  }
  EXPECT_EQ(files, 73u);
}
