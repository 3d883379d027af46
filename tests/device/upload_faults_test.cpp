// The upload engine against a virtual Tarvonic that misbehaves: each fault
// alone on one packet, resynchronisation in its three outcomes, a silent
// instrument, and a seeded mix of every fault over the whole embedded image.
// Whatever happens on the way, the instrument must end up with the image's
// plain firmware.
#include <algorithm>
#include <cstdio>

#include "device/messages.h"
#include "tests/device/device_fixture.h"
#include "tests/device/fault_soak.h"

using namespace device;

namespace {

using emulator::PacketFault;
using test_images::ImageBuilder;

template <typename T, typename V>
std::size_t Count(const std::vector<T>& all, const V& value) {
  return static_cast<std::size_t>(std::count(all.begin(), all.end(), value));
}

// The release's shape in small: commands, the header, the reset after
// "Erasing Flash...", data packets, the restart command.
Bytes SmallImage() {
  return ImageBuilder()
      .Version("2.00")
      .Command(0x39)
      .Header()
      .Command(0x11)
      .Marker("Erasing Flash...")
      .Reset()
      .Marker("Writing Sections...")
      .Data(116)
      .Data(116)
      .Data(50)
      .Marker("Restarting...")
      .Command(0x38)
      .EndOfTrack()
      .File();
}
// Where the first data packet's first send lies among the messages sent:
// 50 probes, 39h, header, 11h, reset.
constexpr std::size_t FirstData = 54;
constexpr std::size_t HeaderPayload = 117;

// `fault` for the first send of the first data packet; `probes` decides each
// resynchronisation probe in turn (true: answered with 3).
emulator::FaultScript OnFirstData(PacketFault fault, bool garbage = false,
                                  std::vector<bool> probes = {}) {
  auto done = std::make_shared<bool>(false);
  auto probe = std::make_shared<std::size_t>(0);
  return [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
    if (p.resyncProbe) {
      const bool answer = *probe < probes.size() && probes[*probe];
      ++*probe;
      return With(answer ? PacketFault::None : PacketFault::RefuseResync);
    }
    if (p.kind != PacketKind::Data || *done) return std::nullopt;
    *done = true;
    std::optional<emulator::FaultDecision> d = With(fault);
    d->garbage = garbage;
    d->otherCode = 0x55;
    return d;
  };
}

class UploadFaultTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(2, 1);
    Init();
  }
  bool Upload() {
    device = Device(0, 0);
    return UploadTrack(nullptr, TrackBytes(LoadedFirmwareImage()), &device);
  }
  emulator::TarvonicConfig Config() const {
    emulator::TarvonicConfig config;
    config.strayInput = 1;  // enabled, but not the device's input
    return config;
  }
  Bytes Probe() const { return Bytes(ProbePacket().begin(), ProbePacket().end()); }
  DetectedDevice device;
};

TEST_F(UploadFaultTest, EachFaultOnOnePacketGetsItsReactionAndTheFirmwareStaysWhole) {
  const Bytes file = SmallImage();
  UseImage(file);
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  const Bytes plain = test_images::DataPayloads(track).at(0);
  const Bytes stored = test_images::DataPacket(plain, KeystreamSeed);
  // After an answer the host has moved on by the payload and re-scrambles
  // from there; after a resynchronisation it starts from the saved state.
  const Bytes movedOn = test_images::DataPacket(plain, test_images::Stepped(KeystreamSeed, 116));
  const Bytes fromSaved = test_images::DataPacket(plain, test_images::Stepped(KeystreamSeed, HeaderPayload));
  struct Case {
    PacketFault fault;
    bool garbage;
    std::vector<Bytes> sends;  // from the first data packet's first send on, before the second
    std::vector<std::string> texts;  // between "Writing Sections..." and "Restarting..."
  };
  const std::vector<Case> cases = {
      {PacketFault::None, false, {stored}, {}},
      {PacketFault::None, true, {stored}, {}},
      {PacketFault::Drop, false, {stored, stored}, {"!Retry..."}},
      {PacketFault::Late, false, {stored, stored}, {"!Retry..."}},
      {PacketFault::OtherInput, false, {stored, stored}, {"!Retry..."}},
      {PacketFault::BothInputs, false, {stored}, {}},
      {PacketFault::Code1, false, {stored, movedOn}, {"!Error"}},
      {PacketFault::Code2, true, {stored, movedOn}, {}},
      {PacketFault::OtherCode, false, {stored, movedOn}, {}},
      {PacketFault::Code4, false, {stored, Probe(), fromSaved}, {"!Resync"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(emulator::PacketFaultName(c.fault) +
                 std::string(c.garbage ? " with garbage" : ""));
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(Config(), {0});
    tarvonic.SetFaultScript(OnFirstData(c.fault, c.garbage, {true}));
    const std::size_t sentBefore = SentMessages(0).size();
    const std::size_t textsBefore = StatusTexts().size();
    ASSERT_TRUE(Upload());
    const std::vector<Bytes> sent = SentMessages(0);
    ASSERT_GE(sent.size(), sentBefore + FirstData + c.sends.size());
    const auto first = sent.begin() + static_cast<std::ptrdiff_t>(sentBefore + FirstData);
    EXPECT_TRUE(std::equal(c.sends.begin(), c.sends.end(), first));
    const Bytes next = *(first + static_cast<std::ptrdiff_t>(c.sends.size()));
    EXPECT_EQ(next[PacketCommandAt], CommandData);
    EXPECT_NE(next, c.sends.back()) << "the first data packet went once more";

    const std::vector<std::string> all = StatusTexts();
    std::vector<std::string> texts(all.begin() + static_cast<std::ptrdiff_t>(textsBefore), all.end());
    std::vector<std::string> expected = {"Erasing Flash...", "Writing Sections..."};
    expected.insert(expected.end(), c.texts.begin(), c.texts.end());
    expected.push_back("Restarting...");
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(track));
    world.midi.Detach(&tarvonic);
  }
}

TEST_F(UploadFaultTest, ResynchronisationAnsweredAtTheSecondTry) {
  const Bytes file = SmallImage();
  UseImage(file);
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  const Bytes plain = test_images::DataPayloads(track).at(0);
  emulator::VirtualTarvonic& tarvonic = AddTarvonic(Config(), {0});
  tarvonic.SetFaultScript(OnFirstData(PacketFault::Code4, false, {false, true}));
  ASSERT_TRUE(Upload());
  const std::vector<Bytes> sent = SentMessages(0);
  const std::vector<std::uint32_t> times = SentTimes(0);
  // The code-4 packet, exactly two probes, then the packet from the saved
  // state: the seed moved on by the header's 117 payload bytes.
  EXPECT_EQ(sent[FirstData], test_images::DataPacket(plain, KeystreamSeed));
  EXPECT_EQ(sent[FirstData + 1], Probe());
  EXPECT_EQ(sent[FirstData + 2], Probe());
  EXPECT_EQ(sent[FirstData + 3], test_images::DataPacket(plain, test_images::Stepped(KeystreamSeed, HeaderPayload)));
  EXPECT_EQ(sent[FirstData + 4][PacketCommandAt], CommandData);
  // The unanswered probe: 126 bytes (23 ms), then 2,000 ms of 50-ms polls.
  EXPECT_EQ(times[FirstData + 2] - times[FirstData + 1], 23u + 2000u);
  EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(track));
  EXPECT_EQ(tarvonic.Stats().resyncsAnswered, 1u);
  EXPECT_EQ(tarvonic.Stats().resyncProbesRefused, 1u);
}

TEST_F(UploadFaultTest, ResynchronisationNeverAnsweredEndsAfterEightTriesAndTheSameTransmitState) {
  const Bytes file = SmallImage();
  UseImage(file);
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  const Bytes plain = test_images::DataPayloads(track).at(0);
  struct Case {
    std::optional<std::uint8_t> refusal;  // code of a refused probe's answer
    std::uint32_t spacing;                // between two probes
  };
  // Unanswered: 23 ms of pause and 2,000 ms of polls. Answered with 2: the
  // probe's 126 bytes take 41 ms on the wire, the answer 2 + 4 ms more, so
  // it is seen at the second poll (23 + 50 ms) and the next try starts then.
  for (const Case c : {Case{std::nullopt, 2023}, Case{StatusAgain, 73}}) {
    emulator::TarvonicConfig config = Config();
    config.resyncRefusalCode = c.refusal;
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(config, {0});
    tarvonic.SetFaultScript(OnFirstData(PacketFault::Code4));
    const std::size_t before = SentMessages(0).size();
    ASSERT_TRUE(Upload());
    const std::vector<Bytes> all = SentMessages(0);
    const std::vector<std::uint32_t> allTimes = SentTimes(0);
    const std::vector<Bytes> sent(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    const std::vector<std::uint32_t> times(allTimes.begin() + static_cast<std::ptrdiff_t>(before), allTimes.end());
    for (std::size_t i = 1; i <= 8; ++i) {
      EXPECT_EQ(sent[FirstData + i], Probe()) << i;
      if (i > 1) {
        EXPECT_EQ(times[FirstData + i] - times[FirstData + i - 1], c.spacing) << i;
      }
    }
    // Then the packet from the state the code-4 answer left: moved on by
    // its own payload, not back to the saved state.
    EXPECT_EQ(sent[FirstData + 9], test_images::DataPacket(plain, test_images::Stepped(KeystreamSeed, 116)));
    EXPECT_EQ(times[FirstData + 9] - times[FirstData + 8], c.spacing);
    EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(track));
    EXPECT_EQ(tarvonic.Stats().resyncProbesRefused, 8u);
    world.midi.Detach(&tarvonic);
  }
}

TEST_F(UploadFaultTest, CodeFourForAPacketThatIsNotScrambledSendsItAgainWithoutProbes) {
  const Bytes file = SmallImage();
  UseImage(file);
  struct Case {
    std::uint8_t command;
    std::size_t index;  // of its first send
  };
  for (const Case c : {Case{CommandReset, FirstData - 1}, Case{0x11, FirstData - 2}, Case{0x38, 0}}) {
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(Config(), {0});
    auto done = std::make_shared<bool>(false);
    tarvonic.SetFaultScript(
        [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
          if (p.command != c.command || *done) return std::nullopt;
          *done = true;
          return With(PacketFault::Code4);
        });
    const std::size_t before = SentMessages(0).size();
    const std::size_t texts = StatusTexts().size();
    ASSERT_TRUE(Upload());
    const std::vector<Bytes> all = SentMessages(0);
    const std::vector<Bytes> sent(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    const std::size_t index = c.index != 0 ? c.index : sent.size() - 2;
    const Bytes stored = c.command == CommandReset ? test_images::CommandPacket(CommandReset, 10)
                                                   : test_images::CommandPacket(c.command, 8);
    EXPECT_EQ(sent[index], stored);
    EXPECT_EQ(sent[index + 1], stored) << "sent again as stored, with no probe before it";
    EXPECT_EQ(Count(sent, Probe()), 51u) << "the probe phase's and the header's only";
    const std::vector<std::string> allTexts = StatusTexts();
    EXPECT_EQ(Count(std::vector<std::string>(allTexts.begin() + static_cast<std::ptrdiff_t>(texts), allTexts.end()),
                    std::string("!Resync")),
              0u);
    EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(TrackBytes(LoadedFirmwareImage())));
    world.midi.Detach(&tarvonic);
  }
}

TEST_F(UploadFaultTest, CodeThreeAfterAnErrorShowsTheLastMarkerAgainOrNothingBeforeTheFirst) {
  // The header is answered with 3 (in step); the first send of it is hit.
  struct Case {
    Bytes file;
    PacketFault fault;
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases = {
      // Before any marker: the marker text is still empty.
      {ImageBuilder().Header().Marker("Writing...").Data().File(), PacketFault::Code1,
       {"!Error", "", "Writing..."}},
      {ImageBuilder().Marker("Writing...").Header().Data().File(), PacketFault::Drop,
       {"Writing...", "!Retry...", "Writing..."}},
      // No error before the 3: no text of its own.
      {ImageBuilder().Marker("Writing...").Header().Data().File(), PacketFault::None, {"Writing..."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(emulator::PacketFaultName(c.fault));
    UseImage(c.file);
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(Config(), {0});
    auto done = std::make_shared<bool>(false);
    tarvonic.SetFaultScript(
        [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
          if (p.index <= 50 || p.kind != PacketKind::Header || *done) return std::nullopt;
          *done = true;
          return With(c.fault);
        });
    const std::size_t before = StatusTexts().size();
    ASSERT_TRUE(Upload());
    const std::vector<std::string> all = StatusTexts();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), c.texts);
    world.midi.Detach(&tarvonic);
  }
}

// A silent instrument: after 60 s of reply budgets and four sends in a row
// without a reply the user is asked; with nobody to ask, after ten minutes.
TEST_F(UploadFaultTest, SilentInstrumentLeadsToTheNoAnswerBoxRetryGoesOnCancelFails) {
  const Bytes file = SmallImage();
  UseImage(file);
  struct Case {
    std::uint8_t command;         // the packet the instrument goes silent at
    std::uint32_t attemptMs;      // one unanswered attempt
    std::size_t attemptsPerBox;
    const char* silence;          // what the box says
    bool unattended;
  };
  // A data packet: 125 bytes, 22 ms of pause, 2,000 ms of polls; the reset
  // packet: 20 ms and 30,000 ms.
  for (const Case c : {Case{CommandData, 2022, 30, "60", false}, Case{CommandReset, 30020, 4, "120", false},
                       Case{CommandData, 2022, 300, "600", true}, Case{CommandReset, 30020, 20, "600", true}}) {
    world.dialogs.SetUnattended(c.unattended);
    for (const int answer : {platform::IdRetry, platform::IdCancel}) {
      SCOPED_TRACE(testing::Message() << c.attemptsPerBox << " attempts, answer " << answer);
      emulator::VirtualTarvonic& tarvonic = AddTarvonic(Config(), {0});
      // 0: not yet, 1: silent, 2: back again (from the box on).
      auto phase = std::make_shared<int>(0);
      tarvonic.SetFaultScript(
          [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
            if (*phase == 0 && p.command == c.command) *phase = 1;
            return *phase == 1 ? With(PacketFault::Drop) : std::nullopt;
          });
      world.dialogs.SetResponder([phase, answer](const sim::BoxRecord&) {
        *phase = 2;
        return answer;
      });
      const std::size_t boxes = world.dialogs.Boxes().size();
      const std::size_t before = SentMessages(0).size();
      EXPECT_EQ(Upload(), answer == platform::IdRetry);
      const std::vector<sim::BoxRecord> all = world.dialogs.Boxes();
      ASSERT_EQ(all.size(), boxes + 1);
      EXPECT_EQ(all.back().caption, "No Answer from Device");
      EXPECT_EQ(all.back().flags, platform::BoxRetryCancel);
      EXPECT_EQ(all.back().text.rfind(std::string("The Device has not answered for ") + c.silence + " seconds.", 0), 0u)
          << all.back().text;
      const std::vector<std::uint32_t> times = SentTimes(0);
      const std::vector<Bytes> sent = SentMessages(0);
      // The packet's first send, and one more per silent attempt before the box.
      const std::size_t first = before + (c.command == CommandReset ? FirstData - 1 : FirstData);
      EXPECT_EQ(sent[first + c.attemptsPerBox - 1], sent[first]);
      if (answer == platform::IdRetry) {
        EXPECT_EQ(times[first + c.attemptsPerBox] - times[first], c.attemptsPerBox * c.attemptMs);
        EXPECT_EQ(tarvonic.Firmware(), test_images::PlainFirmware(TrackBytes(LoadedFirmwareImage())));
      } else {
        EXPECT_EQ(sent.size(), first + c.attemptsPerBox) << "nothing after the box";
      }
      world.midi.Detach(&tarvonic);
    }
  }
}

// Replies carry no sequence number: a late answer counts for the send after
// it. The virtual Tarvonic stays consistent by not listening while it is
// late, so that the host's resend is lost and the late answer is the only
// one. An instrument that does hear the resend answers it too; from then on
// the host takes every answer for the packet after the one it belongs to,
// and when the instrument refuses a packet, the host has already sent the
// next one: the refused packet is never sent again and is missing.
TEST_F(UploadFaultTest, ALateAnswerFromAnInstrumentThatKeepsListeningCostsAPacket) {
  const Bytes file = ImageBuilder().Header().Reset().Data(116).Data(116).Data(116).Data(116).Data(116).File();
  UseImage(file);
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  const std::vector<Bytes> payloads = test_images::DataPayloads(track);
  for (const bool hears : {false, true}) {
    SCOPED_TRACE(hears ? "hears while busy" : "deaf while busy");
    emulator::TarvonicConfig config = Config();
    config.hearsWhileBusy = hears;
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(config, {0});
    auto dataCount = std::make_shared<int>(0);
    tarvonic.SetFaultScript(
        [=](const emulator::PacketView& p) -> std::optional<emulator::FaultDecision> {
          if (p.kind != PacketKind::Data || p.retransmission) return std::nullopt;
          ++*dataCount;
          if (*dataCount == 1) return With(PacketFault::Late);
          if (*dataCount == 3) return With(PacketFault::Code2);
          return std::nullopt;
        });
    ASSERT_TRUE(Upload()) << "the host cannot tell";
    // Listening, the host ends on the fourth packet's answer, taken for the
    // fifth's, before the fifth has even arrived: let it arrive.
    world.clock.Sleep(1000);
    // Which data packets the instrument wrote, in order.
    std::vector<int> written;
    const Bytes area = tarvonic.DataArea();
    for (std::size_t at = 0; at + 116 <= area.size(); at += 116) {
      const auto found = std::find_if(payloads.begin(), payloads.end(), [&](const Bytes& p) {
        return std::equal(p.begin(), p.end(), area.begin() + static_cast<std::ptrdiff_t>(at));
      });
      written.push_back(found == payloads.end() ? 0 : static_cast<int>(found - payloads.begin()) + 1);
    }
    // Deaf: all five. Listening: the third, refused, is never sent again;
    // the fourth is sent again for the third's refusal, and written twice.
    const std::vector<int> expected = hears ? std::vector<int>{1, 2, 4, 4, 5} : std::vector<int>{1, 2, 3, 4, 5};
    EXPECT_EQ(written, expected);
    world.midi.Detach(&tarvonic);
  }
}

TEST_F(UploadFaultTest, SeededMixOfEveryFaultStillWritesTheEmbeddedImageWhole) {
  UseEmbeddedImage();
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  const Bytes expected = test_images::PlainFirmware(track);
  const std::size_t trackMessages = test_images::Messages(track).size();
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    emulator::FaultRates rates;
    ASSERT_TRUE(
        emulator::ParseFaultRates("seed=" + std::to_string(seed) +
                                      ",drop=0.02,late=0.004,code1=0.02,code2=0.02,code4=0.02,"
                                      "other=0.02,garbage=0.05,resync-fail=0.3",
                                  rates));
    emulator::VirtualTarvonic& tarvonic = AddTarvonic(Config(), {0});
    tarvonic.SetFaults(rates);
    const std::size_t before = SentMessages(0).size();
    const std::uint32_t start = world.clock.TickCount();
    ASSERT_TRUE(Upload()) << seed;
    const std::uint32_t duration = world.clock.TickCount() - start;
    EXPECT_EQ(tarvonic.Firmware(), expected) << "seed " << seed;

    const emulator::TarvonicStats s = tarvonic.Stats();
    for (const PacketFault f : {PacketFault::Drop, PacketFault::Late, PacketFault::Code1, PacketFault::Code2,
                                PacketFault::Code4, PacketFault::OtherCode, PacketFault::RefuseResync}) {
      EXPECT_GT(s.Faults(f), 0u) << emulator::PacketFaultName(f) << " never happened with seed "
                                 << seed;
    }
    EXPECT_GT(s.garbageSent, 0u);
    EXPECT_GT(s.resyncsAnswered, 0u);
    const std::size_t sent = SentMessages(0).size() - before;
    const std::size_t probes = s.resyncsAnswered + s.resyncProbesRefused;
    std::printf("fault mix, seed %u: %zu messages sent for %zu track packets; %zu sent again; "
                "%u resynchronisations (%zu probes); faults: drop %u, late %u, code1 %u, code2 %u, "
                "code4 %u, other %u, garbage %u, resync refused %u; %u ms of virtual time; "
                "firmware %s\n",
                seed, sent, trackMessages, sent - 50 - trackMessages - probes,
                s.resyncRequests, probes, s.Faults(PacketFault::Drop), s.Faults(PacketFault::Late),
                s.Faults(PacketFault::Code1), s.Faults(PacketFault::Code2), s.Faults(PacketFault::Code4),
                s.Faults(PacketFault::OtherCode), s.garbageSent, s.resyncProbesRefused, duration,
                tarvonic.Firmware() == expected ? "identical" : "DIFFERENT");
    world.midi.Detach(&tarvonic);
  }
}

// The soak's short run (bench/fault_soak_bench.cpp runs a thousand mixes):
// with nobody to ask, lost, late and refused replies never end an upload.
// Mix 352 is the one of the thousand whose upload gave up when a minute of
// silence alone was enough to ask.
TEST_F(UploadFaultTest, UnattendedUploadsUnderSeededFaultMixesAllComplete) {
  const Bytes file = test_images::ReleaseShape(8);
  UseImage(file);
  device = Device(0, 0);
  std::vector<std::uint32_t> mixes = {352};
  for (std::uint32_t mix = 0; mix < 32; ++mix) mixes.push_back(mix);
  for (const std::uint32_t mix : mixes) {
    const emulator::FaultRates rates = fault_soak::Mix(mix);
    const fault_soak::Outcome o = fault_soak::UploadUnder(world, device, rates);
    EXPECT_TRUE(o.completed && o.firmwareWhole && o.boxes == 0)
        << fault_soak::Describe(rates) << ": completed " << o.completed << ", boxes " << o.boxes;
  }
}

}  // namespace
