// The pattern language of the listeners: literal bytes, captures, skips, the
// end code, prefix matching, the codes that never match, and the bounds.
#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "midi/listener_pattern.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// "no" or "yes" and the captures, e.g. "yes 10".
std::string Match(const Bytes& pattern, const Bytes& data, std::size_t limit = SIZE_MAX) {
  std::array<std::uint8_t, midi::ListenerCaptureLimit> captures{};
  int count = -1;
  const bool matched =
      midi::MatchListenerPattern(pattern.empty() ? nullptr : pattern.data(),
                                 std::min(limit, pattern.size()), data, captures, count);
  std::string outcome = matched ? "yes" : "no";
  for (int i = 0; i < count; ++i) outcome += " " + std::to_string(captures[i]);
  return outcome;
}

TEST(ListenerPattern, MatchesAsTheLanguageSays) {
  Bytes captures(midi::ListenerCaptureLimit + 1, 0xFD);  // one capture too many
  captures.push_back(0xFF);
  const Bytes data(midi::ListenerCaptureLimit + 1, 1);
  struct Case {
    Bytes pattern, data;
    std::string outcome;
  };
  const Case cases[] = {
      {{0xF0, 0x41, 0xFD, 0xFF}, {0xF0, 0x41, 0x10, 0xF7}, "yes 16"},
      {{0xF0, 0x41, 0xFD, 0xFF}, {0xF0, 0x41}, "no"},  // the data is shorter
      {{0xF0, 0x41, 0xFD, 0xFF}, {0xF0, 0x42, 0x10, 0xF7}, "no"},
      {{0xF0, 0x41, 0xFF, 0x42}, {0xF0, 0x41, 0x10, 0xF7}, "yes"},  // a prefix; behind FF: nothing
      {{0xF0, 0xFE, 0xFD, 0xFD, 0xFF}, {0xF0, 1, 2, 3, 0xF7}, "yes 2 3"},
      {{0xFE, 0xFD, 0xFF}, {0xFF, 0xFF}, "yes 255"},  // skips and captures take any value
      {{0xFF}, {}, "yes"},
      {{0xF0, 0x7E, 0xF7, 0xFF}, {0xF0, 0x7E, 0xF7}, "yes"},  // exact length, F7 a literal
      {{0xF0, 0xF7, 0xFF}, {0xF0, 0xF6}, "no"},
      {{}, {0xF0}, "no"},
      {captures, data, "no"},
  };
  for (const Case& c : cases) EXPECT_EQ(Match(c.pattern, c.data), c.outcome);
  captures.front() = 0xFE;  // 1,024 captures fit, and skips do not count
  EXPECT_EQ(Match(captures, data).size(), 3 + 2 * midi::ListenerCaptureLimit);
  EXPECT_EQ(Match({0xF0, 0x41, 0xFF}, {0xF0, 0x41, 0x10}, 2), "no") << "no FF within the limit";
  // 80..EF, F1..F6 and F8..FC are no pattern codes: a pattern that reaches
  // one never matches, not even a data byte of the same value.
  for (int code = 0x80; code <= 0xFC; ++code) {
    if (code == 0xF0 || code == 0xF7) continue;
    const auto byte = static_cast<std::uint8_t>(code);
    EXPECT_EQ(Match({0xF0, byte, 0xFF}, {0xF0, byte}), "no") << code;
  }
}

}  // namespace
