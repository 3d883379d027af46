// The image the build embeds: found through the platform seam (an array on
// Linux, resource MIDIFILE 108 on Windows), identical to the configured file,
// and, for the development image, of exactly the release shape.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include "device/keystream.h"
#include "image/firmware_image.h"
#include "image/track_walker.h"
#include "platform/firmware_resource.h"

using namespace image;
using namespace device;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> Embedded() { return platform::FindFirmwareResource(nullptr); }

Bytes ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Message(const TrackEvent& e) {
  Bytes message(e.data.size() + 1);
  message[0] = 0xF0;
  std::copy(e.data.begin(), e.data.end(), message.begin() + 1);
  return message;
}

std::string Text(const TrackEvent& e) { return std::string(e.data.begin(), e.data.end()); }

void RequireDevelopmentImage() {
#if !KF_EMBEDS_DEVELOPMENT_IMAGE
  GTEST_SKIP() << "KF_FIRMWARE_IMAGE is not the development image";
#endif
}

TEST(EmbeddedImage, IsTheConfiguredImageFile) {
  const Bytes file = ReadFile(KF_FIRMWARE_IMAGE_PATH);
  ASSERT_FALSE(file.empty()) << KF_FIRMWARE_IMAGE_PATH;
  const std::span<const std::uint8_t> embedded = Embedded();
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), file.begin(), file.end()));
}

TEST(EmbeddedImage, LoadsAndHoldsAHeaderPacket) {
  ASSERT_TRUE(LoadFirmwareImage(platform::ModuleHandle{}));
  const FirmwareImage& image = LoadedFirmwareImage();
  // The track lies inside the embedded bytes, used in place.
  EXPECT_GE(image.track, Embedded().data());
  EXPECT_LE(image.track + image.trackLength, Embedded().data() + Embedded().size());
  const Bytes header = FindHeaderPacket(TrackBytes(image));
  ASSERT_FALSE(header.empty());
  EXPECT_EQ(ClassifyPacket(header), PacketKind::Header);
}

TEST(DevelopmentImage, HasTheReleaseSizeAndVersion) {
  RequireDevelopmentImage();
  EXPECT_EQ(Embedded().size(), 336065u);
  ASSERT_TRUE(LoadFirmwareImage(platform::ModuleHandle{}));
  EXPECT_STREQ(LoadedFirmwareImage().version, "1.91");
  EXPECT_EQ(LoadedFirmwareImage().trackLength, 336043u);
  // MThd: length 6, format 0, one track, division 50; then the MTrk header.
  const Bytes head(Embedded().begin(), Embedded().begin() + 22);
  EXPECT_EQ(head, (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 50, 'M', 'T', 'r', 'k', 0x00,
                         0x05, 0x20, 0xAB}));
}

TEST(DevelopmentImage, EventsComeInTheReleaseOrder) {
  RequireDevelopmentImage();
  ASSERT_TRUE(LoadFirmwareImage(platform::ModuleHandle{}));
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());

  std::vector<std::string> expected = {"meta 51", "meta 7F VER_V1.91", "meta 03", "meta 02",
                                       "meta 01", "cmd 39", "cmd 11", "cmd 37", "cmd 11", "cmd 3A",
                                       "cmd 11", "marker Erasing Flash...", "cmd 3D", "cmd 11",
                                       "marker Writing Sections..."};
  expected.insert(expected.end(), 2646, "cmd 3B");
  expected.insert(expected.end(), {"marker Restarting...", "cmd 38", "meta 2F"});

  std::vector<std::string> seen;
  std::size_t eventStart = 0, fullData = 0, shortData = 0;
  TrackCursor cursor = StartTrackWalk(track);
  for (TrackEvent e = NextTrackEvent(cursor); e.kind != TrackEventKind::End; e = NextTrackEvent(cursor)) {
    ASSERT_NE(e.kind, TrackEventKind::Invalid) << TrackFaultText(e.fault) << " at " << e.faultOffset;
    // Delta time 0 in one byte and an explicit status: no running status.
    ASSERT_EQ(track[eventStart], 0x00) << "event at " << eventStart;
    ASSERT_EQ(track[eventStart + 1], e.kind == TrackEventKind::Meta ? 0xFF : 0xF0) << "event at " << eventStart;
    eventStart = e.dataOffset + e.data.size();

    char tag[8];
    if (e.kind == TrackEventKind::Meta) {
      std::snprintf(tag, sizeof tag, "%02X", e.metaType);
      if (e.metaType == MetaMarker) seen.push_back("marker " + Text(e));
      else if (e.metaType == MetaSequencerSpecific) seen.push_back(std::string("meta ") + tag + " " + Text(e));
      else seen.push_back(std::string("meta ") + tag);
      continue;
    }
    const Bytes packet = Message(e);
    ASSERT_GE(packet.size(), 8u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 6), (Bytes{0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41}));
    EXPECT_EQ(packet.back(), 0xF7);
    std::snprintf(tag, sizeof tag, "%02X", packet[6]);
    seen.push_back(std::string("cmd ") + tag);
    if (packet[6] == 0x3A) {
      EXPECT_EQ(packet.size(), 126u);
    }
    if (packet[6] == 0x3D) {
      EXPECT_GE(packet.size(), 10u);  // long enough to count as a reset
    }
    if (packet[6] == 0x3B) {
      if (packet.size() == 125) ++fullData;
      else if (packet.size() >= 18 && packet.size() <= 123) ++shortData;
      else ADD_FAILURE() << "data packet of " << packet.size() << " bytes";
    }
  }
  EXPECT_EQ(eventStart, track.size());
  EXPECT_EQ(seen.size(), 2664u);
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(fullData, 2638u);
  EXPECT_EQ(shortData, 8u);
}

TEST(DevelopmentImage, TextsAreTheTeamsOwn) {
  RequireDevelopmentImage();
  ASSERT_TRUE(LoadFirmwareImage(platform::ModuleHandle{}));
  TrackCursor cursor = StartTrackWalk(TrackBytes(LoadedFirmwareImage()));
  std::string copyright;
  for (TrackEvent e = NextTrackEvent(cursor); e.kind == TrackEventKind::Meta || e.kind == TrackEventKind::SysEx;
       e = NextTrackEvent(cursor)) {
    if (e.kind == TrackEventKind::Meta && e.metaType == MetaCopyright) copyright = Text(e);
  }
  EXPECT_NE(copyright.find("Kelmora"), std::string::npos) << copyright;
}

TEST(DevelopmentImage, ProbePacketIsTheStoredHeaderPacket) {
  RequireDevelopmentImage();
  ASSERT_TRUE(LoadFirmwareImage(platform::ModuleHandle{}));
  const Bytes header = FindHeaderPacket(TrackBytes(LoadedFirmwareImage()));
  ASSERT_EQ(header.size(), 126u);
  EXPECT_EQ(Bytes(header.begin(), header.begin() + 7), (Bytes{0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x3A}));
  EXPECT_EQ(header[7], PayloadChecksum(header));
  EXPECT_EQ(header.back(), 0xF7);
}

// With every packet answered at once, the transmit state follows the image
// state, so every re-scrambled packet must come out as the stored bytes, with
// the stored checksum.
TEST(DevelopmentImage, UploadAnsweredAtOnceSendsTheStoredBytes) {
  RequireDevelopmentImage();
  ASSERT_TRUE(LoadFirmwareImage(platform::ModuleHandle{}));
  PacketKeystream keystream;
  std::size_t scrambled = 0, resets = 0;
  TrackCursor cursor = StartTrackWalk(TrackBytes(LoadedFirmwareImage()));
  for (TrackEvent e = NextTrackEvent(cursor); e.kind != TrackEventKind::End; e = NextTrackEvent(cursor)) {
    ASSERT_NE(e.kind, TrackEventKind::Invalid);
    if (e.kind != TrackEventKind::SysEx) continue;
    const Bytes stored = Message(e);
    Bytes plain(PayloadLength(stored.size()));
    const PacketKind kind = keystream.OnPacketRead(stored, plain);
    if (kind == PacketKind::Reset) ++resets;
    if (!IsScrambled(kind)) continue;
    ++scrambled;
    EXPECT_EQ(stored[PacketChecksumAt], PayloadChecksum(stored)) << "packet at " << e.dataOffset;
    for (std::uint8_t byte : plain) ASSERT_LT(byte, 0x80);
    Bytes sent = stored;
    keystream.BeginAttempt(plain, sent);
    keystream.OnAttemptAnswered();
    ASSERT_EQ(sent, stored) << "packet at " << e.dataOffset;
  }
  EXPECT_EQ(scrambled, 2647u);
  EXPECT_EQ(resets, 1u);
}

}  // namespace
