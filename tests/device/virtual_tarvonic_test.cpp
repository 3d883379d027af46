// The virtual Tarvonic by itself: its answers byte for byte, its fault
// plan, and how it copes with a damaged packet. The host side here is the
// bare transport: SendSysEx to its output and a listener that keeps
// everything that comes back.
#include "device/messages.h"
#include "tests/device/device_fixture.h"

using namespace device;

namespace {

using emulator::PacketFault;

// Every buffer that arrives on an enabled input.
struct Heard {
  std::vector<std::pair<MidiPort*, Bytes>> buffers;
  static int Keep(MidiBuffer* buffer, MidiPort* port, void* reply, const std::uint8_t*, int) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(buffer->data);
    static_cast<Heard*>(reply)->buffers.emplace_back(port, Bytes(data, data + buffer->header.dwBytesRecorded));
    return ListenerKeep;
  }
};
const std::uint8_t AnyBuffer[] = {PatternEnd};

class VirtualTarvonicTest : public DeviceTest {
 protected:
  void SetUp() override {
    AddPorts(2, 1);
    Init();
    listener = AddListener(nullptr, Heard::Keep, &heard, AnyBuffer);
  }
  void TearDown() override { RemoveListener(listener); }
  // Sends `message` and lets 200 ms pass; returns what came back meanwhile.
  std::vector<Bytes> Exchange(const Bytes& message) {
    heard.buffers.clear();
    SendSysEx(Out(0), message.data(), static_cast<std::int32_t>(message.size()));
    world.clock.Sleep(200);
    std::vector<Bytes> replies;
    for (const auto& [port, bytes] : heard.buffers) replies.push_back(bytes);
    return replies;
  }
  static Bytes Status(std::uint8_t code, std::uint32_t accepted) {
    return {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x40, code,
            static_cast<std::uint8_t>(accepted >> 7 & 0x7F), static_cast<std::uint8_t>(accepted & 0x7F), 0xF7};
  }
  Heard heard;
  SysExListener* listener = nullptr;
};

TEST_F(VirtualTarvonicTest, AnswersTheScanAndTheStateRequestByteForByte) {
  AddTarvonic({.deviceId = 0x05,
               .version = {'1', '.', '2', 'b'},
               .answersModelQuery = 0x53,
               .sendsStateReply = true,
               .state = {0x12, 0x34}},
              {0});
  const Bytes identity = {0xF0, 0x7E, 0x05, 0x06, 0x02, 0x00, 0x6D, 0x1C, 0x41,
                          0x00, 0x00, 0x00, '1',  '.',  '2',  'b',  0xF7};
  EXPECT_EQ(Exchange({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}), std::vector<Bytes>{identity});
  EXPECT_EQ(Exchange({0xF0, 0x7E, 0x05, 0x06, 0x01, 0xF7}), std::vector<Bytes>{identity});
  EXPECT_TRUE(Exchange({0xF0, 0x7E, 0x06, 0x06, 0x01, 0xF7}).empty()) << "another device id";
  EXPECT_EQ(Exchange(Bytes(ModelQueries.begin(), ModelQueries.end())),
            (std::vector<Bytes>{{0xF0, 0x00, 0x6D, 0x1C, 0x41, 0x0F, 0x53, 0xF7}}))
      << "only the query for 53h";
  EXPECT_EQ(Exchange(Bytes(StateRequest.begin(), StateRequest.end())),
            (std::vector<Bytes>{Status(0, 1), {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x41, 0x12, 0x34, 0xF7}}));
}

TEST_F(VirtualTarvonicTest, OutsideItsBootLoaderItAnswersOnlyTheIdentityRequest) {
  emulator::VirtualTarvonic& tarvonic = AddTarvonic({.inBootLoader = false}, {0});
  EXPECT_EQ(Exchange({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}).size(), 1u);
  EXPECT_TRUE(Exchange(Bytes(StateRequest.begin(), StateRequest.end())).empty());
  EXPECT_TRUE(Exchange(test_images::CommandPacket(0x39, 8)).empty());
  tarvonic.SetInBootLoader(true);  // powered up holding the keys
  EXPECT_EQ(Exchange(Bytes(StateRequest.begin(), StateRequest.end())), std::vector<Bytes>{Status(0, 1)});
}

TEST_F(VirtualTarvonicTest, ADamagedPacketAsksForResynchronisationAndIsNotWritten) {
  const Bytes file = test_images::ImageBuilder().Header().Reset().Data(20).File();
  UseImage(file);
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  const Bytes plain = test_images::DataPayloads(track).at(0);
  emulator::VirtualTarvonic& tarvonic = AddTarvonic({}, {0});
  const Bytes probe(ProbePacket().begin(), ProbePacket().end());
  EXPECT_EQ(Exchange(probe), std::vector<Bytes>{Status(StatusInSync, 1)});
  EXPECT_EQ(Exchange(test_images::CommandPacket(CommandReset, 10)), std::vector<Bytes>{Status(0, 2)});

  Bytes damaged = test_images::DataPacket(plain, KeystreamSeed);
  damaged[PacketPayloadAt + 3] ^= 0x01;  // the checksum no longer fits
  EXPECT_EQ(Exchange(damaged), std::vector<Bytes>{Status(StatusResync, 2)});
  // Back in step with the probe: the packet from the saved state is taken.
  EXPECT_EQ(Exchange(probe), std::vector<Bytes>{Status(StatusInSync, 3)});
  const std::uint16_t saved = test_images::Stepped(KeystreamSeed, 117);
  EXPECT_EQ(Exchange(test_images::DataPacket(plain, saved)), std::vector<Bytes>{Status(0, 4)});
  EXPECT_EQ(tarvonic.DataArea(), plain);
  EXPECT_EQ(tarvonic.Stats().checksumErrors, 1u);
  EXPECT_EQ(tarvonic.Stats().resyncsAnswered, 1u);
}

TEST_F(VirtualTarvonicTest, WhileBusyItHearsNothing) {
  emulator::VirtualTarvonic& tarvonic = AddTarvonic({.replyDelayMs = 150}, {0});
  const Bytes state(StateRequest.begin(), StateRequest.end());
  SendSysEx(Out(0), state.data(), 8);
  SendSysEx(Out(0), state.data(), 8);  // arrives 20 ms later, while it is busy
  world.clock.Sleep(400);
  EXPECT_EQ(tarvonic.Stats().packets, 1u);
  EXPECT_EQ(tarvonic.Stats().lostWhileBusy, 1u);
  EXPECT_EQ(heard.buffers.size(), 1u);
}

TEST_F(VirtualTarvonicTest, RepliesGoWhereTheFaultSends) {
  struct Case {
    PacketFault fault;
    std::vector<std::uint32_t> inputs;  // where the status reply arrives
  };
  const Case cases[] = {
      {PacketFault::None, {0}},
      {PacketFault::Drop, {}},
      {PacketFault::OtherInput, {1}},
      {PacketFault::BothInputs, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(emulator::PacketFaultName(c.fault));
    DetachAll();
    emulator::VirtualTarvonic& tarvonic = AddTarvonic({.strayInput = 1}, {0});
    tarvonic.SetFaultScript([&](const emulator::PacketView&) { return With(c.fault); });
    Exchange(test_images::CommandPacket(0x39, 8));
    std::vector<std::uint32_t> inputs;
    for (const auto& [port, bytes] : heard.buffers) inputs.push_back(port->device);
    EXPECT_EQ(inputs, c.inputs);
  }
}

TEST(FaultRates, ParseTheCommandLineKeys) {
  emulator::FaultRates rates;
  ASSERT_TRUE(emulator::ParseFaultRates(
      "seed=42, "
      "drop=0.1,late=0.02,code1=0.03,code2=0.04,code4=0.05,other=0.06,garbage=0.5,resync-fail=1",
      rates));
  EXPECT_EQ(rates.seed, 42u);
  EXPECT_DOUBLE_EQ(rates.drop, 0.1);
  EXPECT_DOUBLE_EQ(rates.late, 0.02);
  EXPECT_DOUBLE_EQ(rates.code1, 0.03);
  EXPECT_DOUBLE_EQ(rates.code2, 0.04);
  EXPECT_DOUBLE_EQ(rates.code4, 0.05);
  EXPECT_DOUBLE_EQ(rates.other, 0.06);
  EXPECT_DOUBLE_EQ(rates.garbage, 0.5);
  EXPECT_DOUBLE_EQ(rates.resyncFail, 1.0);
  ASSERT_TRUE(emulator::ParseFaultRates("", rates));
  EXPECT_FALSE(rates.Any());

  struct Bad {
    const char* text;
    const char* why;
  };
  for (const Bad b : {Bad{"drop", "expected key=value"}, Bad{"lost=0.1", "unknown fault key"},
                      Bad{"drop=0.1,drop=0.2", "given twice"}, Bad{"drop=1.5", "from 0 to 1"},
                      Bad{"drop=-0.1", "from 0 to 1"}, Bad{"drop=0.1x", "from 0 to 1"},
                      Bad{"drop=", "from 0 to 1"}, Bad{"seed=-1", "whole number"},
                      Bad{"seed=1.5", "whole number"}, Bad{"drop=0.6,code2=0.5", "more than 1"}}) {
    emulator::FaultRates kept;
    kept.seed = 99;
    std::string error;
    EXPECT_FALSE(emulator::ParseFaultRates(b.text, kept, &error)) << b.text;
    EXPECT_NE(error.find(b.why), std::string::npos) << b.text << ": " << error;
    EXPECT_EQ(kept.seed, 99u) << "unchanged on failure";
  }
}

TEST(FaultPlan, IsTheSameForTheSameSeedAndFollowsTheRates) {
  auto draw = [](std::uint32_t seed) {
    emulator::FaultPlan plan;
    emulator::FaultRates rates;
    rates.seed = seed;
    rates.drop = 0.1;
    rates.code4 = 0.2;
    rates.garbage = 0.3;
    plan.SetRates(rates);
    std::vector<emulator::FaultDecision> decisions;
    for (std::uint32_t i = 1; i <= 20000; ++i) decisions.push_back(plan.Decide({.index = i}));
    return decisions;
  };
  const auto count = [](const std::vector<emulator::FaultDecision>& ds, PacketFault f) {
    return std::count_if(ds.begin(), ds.end(),
                         [f](const emulator::FaultDecision& d) { return d.fault == f; });
  };
  const std::vector<emulator::FaultDecision> a = draw(7);
  const std::vector<emulator::FaultDecision> b = draw(7);
  const std::vector<emulator::FaultDecision> c = draw(8);
  auto same = [](const std::vector<emulator::FaultDecision>& x,
                 const std::vector<emulator::FaultDecision>& y) {
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](const auto& p, const auto& q) {
      return p.fault == q.fault && p.garbage == q.garbage && p.otherCode == q.otherCode;
    });
  };
  EXPECT_TRUE(same(a, b));
  EXPECT_FALSE(same(a, c));
  // 20,000 draws: within 10 % of the rate (the draws are fixed by the seed).
  EXPECT_NEAR(static_cast<double>(count(a, PacketFault::Drop)), 2000, 200);
  EXPECT_NEAR(static_cast<double>(count(a, PacketFault::Code4)), 4000, 400);
  EXPECT_EQ(count(a, PacketFault::Late) + count(a, PacketFault::Code1), 0);
  EXPECT_NEAR(static_cast<double>(std::count_if(a.begin(), a.end(), [](const auto& d) { return d.garbage; })),
              6000, 600);
}

}  // namespace
