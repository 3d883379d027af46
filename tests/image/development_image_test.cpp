// The image the build embeds, found the way the program finds it (an array
// here, resource MIDIFILE 108 on Windows): the configured file, and when that
// is the development image, of the release's shape, with the plain firmware
// its generator scrambled into it.
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"
#include "platform/firmware_resource.h"
#include "tools/make_image/development_image.h"

using namespace image;
using Bytes = std::vector<std::uint8_t>;

TEST(EmbeddedImage, IsTheConfiguredFileAndWhenTheDevelopmentImageOfTheReleaseShape) {
  const std::span<const std::uint8_t> embedded = platform::FindFirmwareResource(nullptr);
  std::ifstream in(KF_FIRMWARE_IMAGE_PATH, std::ios::binary);
  const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(file.empty()) << KF_FIRMWARE_IMAGE_PATH;
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), file.begin(), file.end()));
#if !KF_EMBEDS_DEVELOPMENT_IMAGE
  GTEST_SKIP() << "the build embeds another image";
#endif
  ASSERT_TRUE(LoadFirmwareImage(platform::ModuleHandle{}));
  // Its size, version and track length: validate_image_accepts_development_image.
  const FirmwareImage& image = LoadedFirmwareImage();

  // Every event with delta 0 and its own status byte, in the release order.
  std::vector<std::string> expected = {"FF 51", "FF 7F", "FF 03", "FF 02", "FF 01", "39", "11", "37", "11",
                                       "3A 126", "11", "FF 06 Erasing Flash...", "3D", "11",
                                       "FF 06 Writing Sections..."};
  expected.insert(expected.end(), 2646, "3B");
  expected.insert(expected.end(), {"FF 06 Restarting...", "38", "FF 2F"});
  std::vector<std::string> seen;
  std::size_t full = 0, closing = 0;  // data packets of 125 bytes, and shorter ones closing a section
  const std::span<const std::uint8_t> track = TrackBytes(image);
  std::size_t eventStart = 0;
  TrackCursor cursor = StartTrackWalk(track);
  for (TrackEvent e = NextTrackEvent(cursor); e.kind != TrackEventKind::End; e = NextTrackEvent(cursor)) {
    ASSERT_NE(e.kind, TrackEventKind::Invalid);
    const bool meta = e.kind == TrackEventKind::Meta;
    ASSERT_EQ(track[eventStart], 0x00);
    ASSERT_EQ(track[eventStart + 1], meta ? 0xFF : 0xF0);
    eventStart = e.dataOffset + e.data.size();
    char tag[8];
    std::snprintf(tag, sizeof tag, "%02X", meta ? e.metaType : e.data[5]);
    std::string s = meta ? std::string("FF ") + tag : tag;
    if (meta && e.metaType == MetaMarker) s += " " + std::string(e.data.begin(), e.data.end());
    if (!meta && e.data[5] == 0x3A) s += " " + std::to_string(e.data.size() + 1);
    if (!meta && e.data[5] == 0x3B) (e.data.size() + 1 == 125 ? full : closing) += e.data.size() + 1 >= 18 ? 1 : 0;
    seen.push_back(s);
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(full, 2638u);
  EXPECT_EQ(closing, 8u);

  // A witness that shares no code with the upload's descrambling: the
  // generator's own record of what it scrambled.
  const DevelopmentImage built = BuildDevelopmentImage();
  Bytes plain = built.headerPlain;
  plain.insert(plain.end(), built.plainFirmware.begin(), built.plainFirmware.end());
  EXPECT_EQ(emulator::PlainFirmwareOfTrack(track), plain);
}
