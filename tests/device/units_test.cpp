// The units with rules of their own: the keystream recurrence and which
// messages it touches, and the fault settings of the virtual instrument.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <atomic>
#include <thread>

#include "device/keystream.h"
#include "device/upload_engine.h"
#include "emulator/virtual_faults.h"

using namespace device;

namespace {

// A duplicate or late reply can be published while the engine reads the one
// before it: the code read must belong to the value read (threaded, so that
// ThreadSanitizer sees the two sides meet).
TEST(StatusReply, ACodeIsNeverReadWithAnotherRepliesValue) {
  StatusReply reply;
  std::atomic<bool> done{false};
  std::thread dispatcher([&] {
    for (std::uint8_t i = 0; !done.load(); ++i) {
      const std::uint8_t code = i % 5, captures[4] = {0, code, code, static_cast<std::uint8_t>(i & 0x7F)};
      OnStatusReply(nullptr, nullptr, &reply, captures, 4);
    }
  });
  // Every other read clears first, so that reads meet fresh publications.
  for (int seen = 0, i = 0; seen < 500; ++i) {
    if (i % 2 == 0) reply.Clear();
    const StatusReplyFact fact = reply.Read();
    if (!fact.received) continue;
    ++seen;
    ASSERT_EQ(fact.value >> 7, fact.status) << "c2 equals c1 in every reply";
  }
  done.store(true);
  dispatcher.join();
}

TEST(Keystream, FollowsTheSixteenBitRecurrence) {
  // Worked out by hand from state := (A - state * M) mod 2^16.
  std::uint16_t state = KeystreamSeed;
  for (const int want : {0x48E8, 0x8E4F, 0xFB14, 0x1E13, 0xC220}) {
    EXPECT_EQ(KeystreamStep(state), want >> 8);
    EXPECT_EQ(state, want);
  }
  for (const auto& [from, to] : {std::pair<std::uint16_t, int>{0x0000, 0x3A17}, {0xFFFF, 0xA524}}) {
    state = from;
    KeystreamStep(state);
    EXPECT_EQ(state, to);
  }
}

TEST(Keystream, OnlyMessagesOfTenBytesOrMoreAreScrambledOrReset) {
  struct Case {
    std::uint8_t command;
    std::size_t length;
    PacketKind kind;
  };
  for (const Case c : {Case{CommandHeader, 10, PacketKind::Header}, Case{CommandData, 10, PacketKind::Data},
                       Case{CommandReset, 10, PacketKind::Reset}, Case{0x39, 30, PacketKind::Plain},
                       Case{CommandHeader, 9, PacketKind::Plain}, Case{CommandData, 9, PacketKind::Plain},
                       Case{CommandReset, 9, PacketKind::Plain}}) {
    std::vector<std::uint8_t> packet(c.length, 0x11);
    packet[PacketCommandAt] = c.command;
    EXPECT_EQ(ClassifyPacket(packet), c.kind) << std::hex << int{c.command} << " " << c.length;
  }
}

TEST(FaultRates, AreParsedAsTheCommandLineGivesThem) {
  emulator::FaultRates rates;
  ASSERT_TRUE(emulator::ParseFaultRates(
      "seed=42, drop=0.1,late=2e-2,code1=0.03,code2=0.04,code4=0.05,other=0.06,garbage=0.5,resync-fail=1", rates));
  EXPECT_EQ(rates.seed, 42u);
  const double got[] = {rates.drop, rates.late, rates.code1, rates.code2, rates.code4, rates.other, rates.garbage,
                        rates.resyncFail};
  EXPECT_EQ(std::vector<double>(std::begin(got), std::end(got)),
            (std::vector<double>{0.1, 0.02, 0.03, 0.04, 0.05, 0.06, 0.5, 1.0}));
  ASSERT_TRUE(emulator::ParseFaultRates("", rates));
  EXPECT_FALSE(rates.Any());
  struct Bad {
    const char* text;
    const char* why;
  };
  for (const Bad b : {Bad{"drop", "expected key=value"}, Bad{"lost=0.1", "unknown fault key"},
                      Bad{"drop=0.1,drop=0.2", "given twice"}, Bad{"drop=1.5", "from 0 to 1"},
                      Bad{"drop=-0.1", "from 0 to 1"}, Bad{"drop=0.1x", "from 0 to 1"}, Bad{"drop=+0.1", "from 0 to 1"},
                      Bad{"drop=0x1p-2", "from 0 to 1"}, Bad{"drop=0.1.5", "from 0 to 1"}, Bad{"drop=nan", "from 0 to 1"}, Bad{"seed=1.5", "whole number"},
                      Bad{"drop=0.6,code2=0.5", "more than 1"}}) {
    emulator::FaultRates kept;
    kept.seed = 99;
    std::string error;
    EXPECT_FALSE(emulator::ParseFaultRates(b.text, kept, &error)) << b.text;
    EXPECT_NE(error.find(b.why), std::string::npos) << b.text << ": " << error;
    EXPECT_EQ(kept.seed, 99u) << "unchanged on failure";
  }
}

// 20,000 draws, fixed by the seed: each fault within 10 % of its rate.
TEST(FaultPlan, IsFixedByTheSeedAndFollowsTheRates) {
  auto draw = [](std::uint32_t seed) {
    emulator::FaultPlan plan;
    plan.SetRates({.seed = seed, .drop = 0.1, .code4 = 0.2, .garbage = 0.3});
    std::vector<int> counts(11);  // by fault, then garbage
    for (std::uint32_t i = 1; i <= 20000; ++i) {
      const emulator::FaultDecision d = plan.Decide({.index = i});
      ++counts[static_cast<std::size_t>(d.fault)];
      counts[10] += d.garbage ? i : 0;  // where, not only how often
    }
    return counts;
  };
  const std::vector<int> counts = draw(7);
  EXPECT_EQ(draw(7), counts);
  EXPECT_NE(draw(8), counts);
  EXPECT_NEAR(counts[static_cast<std::size_t>(emulator::PacketFault::Drop)], 2000, 200);
  EXPECT_NEAR(counts[static_cast<std::size_t>(emulator::PacketFault::Code4)], 4000, 400);
  EXPECT_EQ(counts[0] + counts[1] + counts[5], 20000) << "no fault without a rate";
}

}  // namespace
