// inspect: the program's own checks on an image, and what its track holds.
#include <gtest/gtest.h>

#include "image/firmware_image.h"
#include "tests/cli/cli_run.h"
#include "tests/device/test_images.h"

using namespace image;

using cli_test::Lines;
using cli_test::RunCli;
using test_images::ImageBuilder;

namespace {

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const auto& t : texts) joined += (joined.empty() ? "" : " | ") + t;
  return joined;
}

}  // namespace

TEST(Inspect, EmbeddedImageFiguresAgreeWithAnIndependentWalk) {
  const auto file = test_images::Embedded();
  FirmwareImage image;
  ASSERT_TRUE(ReadFirmwareImage(file, image));
  const auto track = TrackBytes(image);
  std::size_t headers = 0, data = 0, resets = 0;
  for (const auto& m : test_images::Messages(track)) {
    if (m.size() >= 10 && m[6] == 0x3A) ++headers;
    if (m.size() >= 10 && m[6] == 0x3B) ++data;
    if (m.size() >= 10 && m[6] == 0x3D) ++resets;
  }
  const cli_test::CliRun run = RunCli({"inspect"});
  EXPECT_EQ(run.code, 0);
  const std::vector<std::string> expected = {
      "image: valid",
      std::string("version: ") + image.version,
      "track-length: " + std::to_string(image.trackLength),
      // Every meta and SysEx event of the image (the end-of-track event included).
      "events: 2664",
      "sysex: " + std::to_string(test_images::Messages(track).size()),
      "header-packets: " + std::to_string(headers),
      "data-packets: " + std::to_string(data),
      "reset-packets: " + std::to_string(resets),
      "markers: " + Joined(test_images::Markers(track)),
  };
  EXPECT_EQ(Lines(run.out), expected);
  EXPECT_EQ(run.err, "");
}

TEST(Inspect, ASmallImageOfOurOwn) {
  const auto file = ImageBuilder()
                        .Version("2.07")
                        .Marker("Erasing")
                        .Header()
                        .Reset()
                        .Marker("Writing")
                        .Data()
                        .Data(40)
                        .Command(0x3E, 9)
                        .Marker("Done")
                        .EndOfTrack()
                        .File();
  const std::string path = cli_test::TempPath("small.mid");
  cli_test::WriteFile(path, file);
  for (const auto& arguments : {std::vector<std::string>{"inspect", path},
                                std::vector<std::string>{"--image", path, "inspect"}}) {
    const cli_test::CliRun run = RunCli(arguments);
    EXPECT_EQ(run.code, 0);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 9u) << run.out;
    EXPECT_EQ(lines[1], "version: 2.07");
    EXPECT_EQ(lines[3], "events: 10");
    EXPECT_EQ(lines[4], "sysex: 5");
    EXPECT_EQ(lines[5], "header-packets: 1");
    EXPECT_EQ(lines[6], "data-packets: 2");
    EXPECT_EQ(lines[7], "reset-packets: 1");
    EXPECT_EQ(lines[8], "markers: Erasing | Writing | Done");
  }
}

TEST(Inspect, InvalidImagesGiveTheReasonAndExitCodeOne) {
  const std::string dir = cli_test::TempPath("");
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* reason;  // the start of the reason line
  };
  const auto valid = ImageBuilder().Version("1.00").Header().Data().EndOfTrack().File();
  auto truncated = valid;
  truncated.resize(truncated.size() - 5);
  const std::vector<Case> cases = {
      {"empty.mid", {}, "reason: not a Standard MIDI File"},
      {"text.mid", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'},
       "reason: not a Standard MIDI File"},
      {"truncated.mid", truncated, "reason: chunk length reaching past the end of the file"},
      {"no-header.mid", ImageBuilder().Version("1.00").Data().EndOfTrack().File(),
       "reason: no header packet"},
      {"note.mid", ImageBuilder().Header().Event({0x00, 0x90, 0x40, 0x40}).File(), "reason: "},
      {"long-data.mid", ImageBuilder().Header().Data(2041).File(),
       "reason: SysEx event at track byte 132 is a data packet with a payload of 2041 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + c.name;
    cli_test::WriteFile(path, c.bytes);
    const cli_test::CliRun run = RunCli({"inspect", path});
    EXPECT_EQ(run.code, 1);
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0], "image: invalid");
    EXPECT_EQ(lines[1].rfind(c.reason, 0), 0u) << lines[1];
  }
  const cli_test::CliRun missing = RunCli({"inspect", dir + "does-not-exist.mid"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(Lines(missing.out).at(0), "image: invalid");
}
