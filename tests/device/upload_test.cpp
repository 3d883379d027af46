// The upload engine against a virtual Tarvonic that answers every packet:
// what goes out, in what order and when, what the progress window shows, and
// what the instrument ends up with.
#include <algorithm>
#include <cstdio>

#include "device/messages.h"
#include "device/upload_packets.h"
#include "image/track_walker.h"
#include "tests/device/device_fixture.h"
#include "tools/make_image/development_image.h"

using namespace image;
using namespace device;

namespace {

using test_images::ImageBuilder;

template <typename T>
std::vector<T> From(const std::vector<T>& all, std::size_t first) {
  return std::vector<T>(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end());
}
template <typename T, typename V>
std::size_t Count(const std::vector<T>& all, const V& value) {
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), value));
}

// Index of the first difference, or the shorter length when one is a prefix.
std::size_t FirstDifference(const std::vector<Bytes>& a, const std::vector<Bytes>& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i;
}

class UploadTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(2, 1);
    Init();
  }
  bool Upload() {
    device = Device(0, 0);
    return UploadTrack(nullptr, TrackBytes(LoadedFirmwareImage()), &device);
  }
  std::vector<Bytes> Probes(std::size_t count) const {
    const std::span<const std::uint8_t> probe = ProbePacket();
    return std::vector<Bytes>(count, Bytes(probe.begin(), probe.end()));
  }
  DetectedDevice device;
};

TEST_F(UploadTest, EmbeddedImageAnsweredAtOnceGoesOutAsStoredAndIsWrittenWhole) {
  UseEmbeddedImage();
  emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
  const std::uint32_t start = world.clock.TickCount();
  ASSERT_TRUE(Upload());
  const std::uint32_t duration = world.clock.TickCount() - start;

  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  const std::vector<Bytes> messages = test_images::Messages(track);
  const std::vector<std::string> markers = test_images::Markers(track);
  std::vector<Bytes> expected = Probes(50);
  expected.insert(expected.end(), messages.begin(), messages.end());
  const std::vector<Bytes> sent = SentMessages(0);
  EXPECT_EQ(sent.size(), expected.size());
  EXPECT_EQ(FirstDifference(sent, expected), expected.size()) << "first message that differs";

  EXPECT_EQ(StatusTexts(), markers);
#if KF_EMBEDS_DEVELOPMENT_IMAGE
  EXPECT_EQ(markers,
            (std::vector<std::string>{"Erasing Flash...", "Writing Sections...", "Restarting..."}));
#endif
  EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(track));
  const emulator::TarvonicStats stats = tarvonic.Stats();
  EXPECT_EQ(stats.retransmissions, 0u);
  EXPECT_EQ(stats.resyncRequests, 0u);
  EXPECT_EQ(stats.packets, expected.size());
  EXPECT_TRUE(world.dialogs.Boxes().empty());
  std::printf("clean upload of the embedded image: %zu messages, %u ms of virtual time\n",
              sent.size(), duration);
}

// A witness that does not share the descrambling code: the generator's own
// record of the plain payloads it scrambled into the development image.
TEST(DevelopmentImage, PlainFirmwareIsWhatTheGeneratorScrambled) {
#if KF_EMBEDS_DEVELOPMENT_IMAGE
  const DevelopmentImage image = BuildDevelopmentImage();
  Bytes expected = image.headerPlain;
  expected.insert(expected.end(), image.plainFirmware.begin(), image.plainFirmware.end());
  EXPECT_EQ(test_images::PlainFirmware(test_images::Track(test_images::Embedded())), expected);
#else
  GTEST_SKIP() << "the build embeds another image";
#endif
}

TEST_F(UploadTest, EveryProbeGoesOutAnsweredOrNotAndUnansweredOnesCost100Ms) {
  const Bytes file = ImageBuilder().Header().Data().File();
  UseImage(file);
  struct Case {
    bool answered;
    std::uint32_t spacing;  // between two probes
  };
  // 126 bytes: one chunk and a pause of 126 / 42 + 20 = 23 ms; then the
  // reply is polled every 50 ms for 100 ms.
  for (const Case c : {Case{true, 23 + 50}, Case{false, 23 + 100}}) {
    emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
    tarvonic.SetFaultScript(
        [&](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
          if (!c.answered && p.index <= 50) return With(emulator::PacketFault::Drop);
          return std::nullopt;
        });
    const std::size_t before = SentTimes(0).size();
    ASSERT_TRUE(Upload());
    const std::vector<std::uint32_t> times = SentTimes(0);
    ASSERT_EQ(times.size(), before + 52);
    for (std::size_t i = before + 1; i < before + 51; ++i) {
      EXPECT_EQ(times[i] - times[i - 1], c.spacing) << "probe " << i - before;
    }
    world.midi.Detach(&tarvonic);
  }
}

TEST_F(UploadTest, EmptyTrackSendsTheFiftyProbesAndSucceeds) {
  const Bytes file = ImageBuilder().Header().File();
  UseImage(file);
  AddTarvonic({}, {0});
  device = Device(0, 0);
  ASSERT_TRUE(UploadTrack(nullptr, {}, &device));
  EXPECT_EQ(SentMessages(0), Probes(50));
}

// Answers `command` packets after `delay` ms; everything else at once.
emulator::FaultScript AnswerAfter(std::uint8_t command, std::uint32_t delay) {
  return [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
    if (p.command != command) return std::nullopt;
    emulator::FaultDecision d;
    d.delayMs = delay;
    return d;
  };
}

TEST_F(UploadTest, ResetPacketIsGivenThirtySecondsEveryOtherPacketTwo) {
  const Bytes file = ImageBuilder().Header().Reset().Command(0x37).Command(0x38).File();
  UseImage(file);
  world.midi.SetOutputByteRate(0);
  world.midi.SetInputByteRate(0);
  struct Case {
    std::uint8_t command;
    std::uint32_t delay;
    std::size_t sends;       // of the packet with that command
    std::uint32_t answered;  // from its first send to the next packet's
  };
  // A 10- or 8-byte packet pauses 20 ms, then is polled every 20 ms: a reply
  // at a multiple of 20 ms is seen at that very poll.
  const Case cases[] = {
      {CommandReset, 25000, 1, 25000},
      {CommandReset, 29000, 1, 29000},
      {0x37, 1500, 1, 1500},
      // After 2,000 ms the packet goes again; the instrument, still busy,
      // does not hear it, and its late reply counts for the second send.
      {0x37, 2500, 2, 2500},
  };
  for (const Case& c : cases) {
    emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
    tarvonic.SetFaultScript(AnswerAfter(c.command, c.delay));
    const std::size_t before = SentMessages(0).size();
    const std::size_t retries = Count(StatusTexts(), "!Retry...");
    ASSERT_TRUE(Upload());
    const std::vector<Bytes> sent = From(SentMessages(0), before);
    const std::vector<std::uint32_t> times = From(SentTimes(0), before);
    const std::size_t at = c.command == CommandReset ? 51 : 52;  // after the probes and the header
    ASSERT_EQ(sent.size(), 54 + c.sends - 1) << c.delay;
    for (std::size_t i = 1; i < c.sends; ++i) EXPECT_EQ(sent[at + i], sent[at]);
    EXPECT_EQ(times[at + c.sends] - times[at], c.answered) << c.delay;
    EXPECT_EQ(Count(StatusTexts(), "!Retry...") - retries, c.sends - 1) << c.delay;
    world.midi.Detach(&tarvonic);
  }
}

TEST_F(UploadTest, AReplyArrivingDuringTheLastPollingStepStillCounts) {
  const Bytes file = ImageBuilder().Header().Command(0x39).Command(0x38).File();
  UseImage(file);
  world.midi.SetOutputByteRate(0);
  world.midi.SetInputByteRate(0);
  // The 8-byte packet leaves at t, pauses 20 ms, and is polled at t+20 up to
  // t+2,000; the last step sleeps until t+2,020 and is followed by one more
  // look. A reply within that step is within the budget and counts (a loop
  // that stopped without looking again would send the packet once more).
  struct Case {
    std::uint32_t delay;
    std::size_t sends;
  };
  for (const Case c : {Case{1999, 1}, Case{2001, 1}, Case{2020, 1}, Case{2021, 2}}) {
    emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
    tarvonic.SetFaultScript(AnswerAfter(0x39, c.delay));
    const std::size_t before = SentMessages(0).size();
    ASSERT_TRUE(Upload());
    EXPECT_EQ(Count(From(SentMessages(0), before), test_images::CommandPacket(0x39, 8)), c.sends)
        << c.delay;
    world.midi.Detach(&tarvonic);
  }
}

// The packet buffer holds 2,056 bytes (F0 included), the plain payload of a
// header or data packet 2,040. An image with a longer packet is refused
// before anything is sent; one with packets at the limits uploads whole.
TEST_F(UploadTest, PacketsOverTheBufferLimitsAreRefusedAtStartOnesAtTheLimitsGoThrough) {
  struct Case {
    const char* name;
    Bytes file;
    const char* refusal;  // part of the reason; nullptr: accepted
  };
  const std::vector<Case> cases = {
      {"header payload 2,040", ImageBuilder().Header(2040).Reset().Data().File(), nullptr},
      {"header payload 2,041", ImageBuilder().Header(2041).Reset().Data().File(),
       "header packet with a payload of 2041 bytes, more than the upload's payload buffer of 2040"},
      {"data payload 2,041", ImageBuilder().Header().Reset().Data().Data(2041).File(),
       "data packet with a payload of 2041 bytes"},
      {"plain packet of 2,057 bytes", ImageBuilder().Header().Command(0x39, 2057).File(),
       "is 2057 bytes long, more than the upload's packet buffer of 2056 bytes"},
      // Uploaded too. Its probe stays short: a probe that takes longer on the
      // wire than its 100-ms budget puts every answer one packet late.
      {"data and plain packet at their limits",
       ImageBuilder().Header().Reset().Data(2040).Command(0x39, 2056).Command(0x38).File(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::span<const std::uint8_t> track = test_images::Track(c.file);
    const UploadRefusal refusal = CheckUploadable(track);
    EXPECT_EQ(refusal.refused, c.refusal != nullptr) << refusal.reason;
    EXPECT_EQ(PrepareProbePacket(track), c.refusal == nullptr);
    if (c.refusal != nullptr) {
      EXPECT_NE(std::string(refusal.reason).find(c.refusal), std::string::npos) << refusal.reason;
    }
  }
  UseImage(cases.back().file);
  emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
  ASSERT_TRUE(Upload());
  EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(TrackBytes(LoadedFirmwareImage())));
}

}  // namespace
