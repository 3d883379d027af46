// The generator: it must reproduce the committed image byte for byte, and its
// plain firmware must be what descrambling the image gives back.
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>

#include "device/keystream.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"
#include "tools/make_image/development_image.h"

using namespace image;
using namespace device;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(MakeImage, ReproducesTheCommittedImage) {
  const Bytes committed = ReadFile(KF_COMMITTED_IMAGE_PATH);
  ASSERT_EQ(committed.size(), DevelopmentImageSize) << KF_COMMITTED_IMAGE_PATH;
  const DevelopmentImage built = BuildDevelopmentImage();
  ASSERT_EQ(built.file.size(), committed.size());
  const auto mismatch = std::mismatch(built.file.begin(), built.file.end(), committed.begin());
  EXPECT_EQ(mismatch.first, built.file.end())
      << "first difference at byte " << (mismatch.first - built.file.begin());
}

TEST(MakeImage, PlainFirmwareIsWhatTheImageDescramblesTo) {
  const DevelopmentImage built = BuildDevelopmentImage();
  FirmwareImage image;
  ASSERT_TRUE(ReadFirmwareImage(built.file, image));

  PacketKeystream keystream;
  Bytes headerPlain, dataPlain;
  TrackCursor cursor = StartTrackWalk(TrackBytes(image));
  for (TrackEvent e = NextTrackEvent(cursor); e.kind != TrackEventKind::End; e = NextTrackEvent(cursor)) {
    ASSERT_NE(e.kind, TrackEventKind::Invalid);
    if (e.kind != TrackEventKind::SysEx) continue;
    Bytes packet(e.data.size() + 1);
    packet[0] = 0xF0;
    std::copy(e.data.begin(), e.data.end(), packet.begin() + 1);
    Bytes plain(PayloadLength(packet.size()));
    const PacketKind kind = keystream.OnPacketRead(packet, plain);
    if (kind == PacketKind::Header) headerPlain.insert(headerPlain.end(), plain.begin(), plain.end());
    if (kind == PacketKind::Data) dataPlain.insert(dataPlain.end(), plain.begin(), plain.end());
  }
  EXPECT_EQ(headerPlain, built.headerPlain);
  EXPECT_EQ(dataPlain, built.plainFirmware);
  // 2,638 full packets of 116 payload bytes and eight short ones.
  EXPECT_EQ(built.plainFirmware.size(), 306488u);
}

TEST(MakeImage, PlainFirmwareLooksRandomAndIsSevenBit) {
  const DevelopmentImage built = BuildDevelopmentImage();
  std::set<std::uint8_t> values(built.plainFirmware.begin(), built.plainFirmware.end());
  EXPECT_EQ(values.size(), 128u);
  EXPECT_LT(*values.rbegin(), 0x80);
  // No long runs: a stuck generator would repeat itself.
  std::size_t run = 1, longest = 1;
  for (std::size_t i = 1; i < built.plainFirmware.size(); ++i) {
    run = built.plainFirmware[i] == built.plainFirmware[i - 1] ? run + 1 : 1;
    longest = std::max(longest, run);
  }
  EXPECT_LT(longest, 6u);
}

}  // namespace
