// The protocol minimum of a flash from its transcript, and its report.
#include "bench/protocol_minimum.h"

#include <algorithm>
#include <cstdio>

#include "midi/sysex_output.h"

namespace bench {
namespace {

using midi::SendPaceBaseMs;
using midi::SendPaceBytesPerMs;

constexpr std::size_t ProbeRounds = 50;
constexpr std::int64_t ProbeStepMs = 50;
constexpr std::int64_t ProbeBudgetMs = 100;
constexpr std::int64_t ReplyStepMs = 20;
constexpr std::int64_t StatusHoldMs = 200;

bool IsStatusReply(const std::vector<std::uint8_t>& b) {
  return b.size() == 11 && b[0] == 0xF0 && b[1] == 0x00 && b[2] == 0x6D && b[3] == 0x1C && b[5] == 0x41 &&
         b[6] == 0x40;
}

}  // namespace

Minimum ProtocolMinimum(const std::vector<cli_test::TranscriptEvent>& events) {
  Minimum m;
  std::vector<std::int64_t> sends, pauses, replies, texts;
  std::int64_t end = 0;
  std::size_t message = 0;
  bool counting = false;
  for (const auto& e : events) {
    if (e.kind == "OUT") {
      if (!e.bytes.empty() && e.bytes.front() == 0xF0) {
        ++message;
        counting = message > 2;
        if (counting) {
          sends.push_back(e.ms);
          pauses.push_back(0);
          replies.push_back(-1);
        }
      }
      if (counting) pauses.back() += static_cast<std::int64_t>(e.bytes.size() / SendPaceBytesPerMs + SendPaceBaseMs);
    } else if (e.kind == "IN" && counting && IsStatusReply(e.bytes)) {
      if (replies.back() < 0) replies.back() = e.ms;
    } else if (e.kind == "TEXT" && counting) {
      texts.push_back(e.ms);
    } else if (e.kind == "BOX" && counting) {
      end = e.ms;
    }
  }
  m.messages = sends.size();
  if (sends.empty()) return m;
  m.measuredMs = end - sends.front();
  for (std::size_t i = 0; i < sends.size(); ++i) {
    m.pacingMs += pauses[i];
    const std::int64_t ready = sends[i] + pauses[i];
    const bool probe = i < ProbeRounds;
    const std::int64_t step = probe ? ProbeStepMs : ReplyStepMs;
    std::int64_t wait = 0;
    if (replies[i] > ready) {
      wait = (replies[i] - ready + step - 1) / step * step;
    }
    if (probe && wait > ProbeBudgetMs) wait = ProbeBudgetMs;
    (probe ? m.probeWaitMs : m.pollMs) += wait;
    const std::int64_t next = i + 1 < sends.size() ? sends[i + 1] : end;
    const std::int64_t gap = next - (ready + wait);
    if (gap <= 0) continue;
    // A message that got no answer (lost on the way: the engine waited out
    // its budget and sent it again) is time beyond the minimum; otherwise a
    // status text shown in the gap may have waited for the last one's hold.
    std::int64_t hold = 0;
    if (replies[i] >= 0) {
      for (const std::int64_t t : texts) {
        if (t > ready + wait && t <= next) hold = std::min(gap, StatusHoldMs);
      }
    } else {
      ++m.unanswered;
    }
    m.holdMs += hold;
    m.beyondMs += gap - hold;
  }
  return m;
}

void PrintMinimum(const Minimum& m) {
  std::printf("  %zu messages from the first probe on, %zu of them unanswered and sent again\n", m.messages,
              m.unanswered);
  std::printf("  upload wall time (first probe to the final box)  %9.3f s\n", static_cast<double>(m.measuredMs) / 1000);
  std::printf("  protocol's own minimum for this run            %9.3f s\n", static_cast<double>(m.Total()) / 1000);
  std::printf("    pacing pauses %.3f s, probe-phase waits %.3f s, reply polling %.3f s, text holds %.3f s\n",
              static_cast<double>(m.pacingMs) / 1000, static_cast<double>(m.probeWaitMs) / 1000,
              static_cast<double>(m.pollMs) / 1000, static_cast<double>(m.holdMs) / 1000);
  std::printf("    waits beyond the minimum %.3f s\n", static_cast<double>(m.beyondMs) / 1000);
  std::printf("  ratio wall / minimum                            %9.4f (goal: within 2 %% of 1)\n",
              m.Total() > 0 ? static_cast<double>(m.measuredMs) / static_cast<double>(m.Total()) : 0.0);
}

}  // namespace bench
