// Public Standard MIDI test files and the fuzzer's seeds through the fuzz
// target's own checks (it traps on a broken rule: reads outside the file, a
// valid image that does not walk to its end), and the verdicts of a few
// public files checked by hand.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

#include "image/firmware_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(PublicCorpus, IsReadSafelyAndJudgedAsCheckedByHand) {
  // Read by hand: format-0 files of meta and SysEx events only are valid; a
  // channel message, another format or a broken chunk make a file invalid.
  const std::map<std::string, bool> checked = {
      {"test-empty.mid", true}, {"test-sysex-7e-06-01-id-request.mid", true}, {"test-empty-file.mid", false},
      {"test-2-tracks-type-0.mid", false}, {"test-2-tracks-type-1.mid", false}, {"test-smpte-offset.mid", false},
      {"test-running-status-sysex.mid", false}, {"test-corrupt-file-extra-byte.mid", false}};
  std::size_t files = 0;
  for (const char* dir : {KF_CORPUS_DIR, KF_FUZZ_SEEDS_DIR}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (name == "LICENSE.md") continue;
      SCOPED_TRACE(name);
      ++files;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      image::FirmwareImage image;
      if (checked.contains(name)) {
        EXPECT_EQ(image::ReadFirmwareImage(bytes, image), checked.at(name));
      }
    }
  }
  EXPECT_EQ(files, 73u + 14u);
}
