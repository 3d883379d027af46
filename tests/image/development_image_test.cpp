// The image the build embeds, found the way the program finds it (an array
// here, resource MIDIFILE 108 on Windows): the configured file, and when that
// is the development image, the plain firmware its generator scrambled into
// it. Its bytes are pinned by kf-make-image --check against the committed
// file, its size, version and track length by the build's image check.
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

#include "emulator/virtual_firmware.h"
#include "image/firmware_image.h"
#include "platform/firmware_resource.h"
#include "tools/make_image/development_image.h"

using Bytes = std::vector<std::uint8_t>;

TEST(EmbeddedImage, IsTheConfiguredFileAndWhenTheDevelopmentImageHoldsItsGeneratorsFirmware) {
  const std::span<const std::uint8_t> embedded = platform::FindFirmwareResource(nullptr);
  std::ifstream in(KF_FIRMWARE_IMAGE_PATH, std::ios::binary);
  const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(file.empty()) << KF_FIRMWARE_IMAGE_PATH;
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), file.begin(), file.end()));
  // The generator's output is what every program names as the development
  // image; one byte changed, and it is any other image.
  Bytes generated = BuildDevelopmentImage().file;
  EXPECT_TRUE(image::IsDevelopmentImage(generated));
  generated.back() ^= 1;
  EXPECT_FALSE(image::IsDevelopmentImage(generated));
  EXPECT_EQ(image::IsDevelopmentImage(embedded), KF_EMBEDS_DEVELOPMENT_IMAGE != 0);
#if !KF_EMBEDS_DEVELOPMENT_IMAGE
  GTEST_SKIP() << "the build embeds another image";
#endif
  ASSERT_TRUE(image::LoadFirmwareImage(platform::ModuleHandle{}));
  EXPECT_TRUE(image::LoadedFirmwareImage().development);
  // A witness that shares no code with the upload's descrambling: the
  // generator's own record of what it scrambled.
  const DevelopmentImage built = BuildDevelopmentImage();
  Bytes plain = built.headerPlain;
  plain.insert(plain.end(), built.plainFirmware.begin(), built.plainFirmware.end());
  EXPECT_EQ(emulator::PlainFirmwareOfTrack(image::TrackBytes(image::LoadedFirmwareImage())), plain);
}
