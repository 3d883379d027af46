// The pattern language of the listeners: literal bytes, captures, skips, the
// end code, prefix matching and the bytes that never match.
#include <array>
#include <gtest/gtest.h>
#include <vector>

#include "midi/listener_pattern.h"

using namespace midi;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
  bool matched;
  Bytes captures;
};

Outcome Match(const Bytes& pattern, const Bytes& data) {
  std::array<std::uint8_t, ListenerCaptureLimit> captures{};
  int count = -1;
  const bool matched = MatchListenerPattern(pattern.data(), pattern.size(), data, captures, count);
  EXPECT_GE(count, 0);
  return {matched, Bytes(captures.begin(), captures.begin() + count)};
}

struct Case {
  const char* name;
  Bytes pattern;
  Bytes data;
  bool matches;
  Bytes captures;
};

TEST(ListenerPattern, MatchesAsTheLanguageSays) {
  const std::vector<Case> cases = {
      {"capture one byte", {0xF0, 0x41, 0xFD, 0xFF}, {0xF0, 0x41, 0x10, 0xF7}, true, {0x10}},
      {"data shorter than the pattern", {0xF0, 0x41, 0xFD, 0xFF}, {0xF0, 0x41}, false, {}},
      {"a literal differs", {0xF0, 0x41, 0xFD, 0xFF}, {0xF0, 0x42, 0x10, 0xF7}, false, {}},
      {"prefix: later bytes not looked at", {0xF0, 0x41, 0xFD, 0xFF},
       {0xF0, 0x41, 0x10, 0x20, 0x30, 0xF7}, true, {0x10}},
      {"skip, then two captures", {0xF0, 0xFE, 0xFD, 0xFD, 0xFF}, {0xF0, 0x01, 0x02, 0x03, 0xF7}, true,
       {0x02, 0x03}},
      {"FF alone matches anything", {0xFF}, {0x90, 0x40}, true, {}},
      {"FF alone matches empty data", {0xFF}, {}, true, {}},
      {"empty data, longer pattern", {0xF0, 0xFF}, {}, false, {}},
      {"exact length", {0xF0, 0x7E, 0xF7, 0xFF}, {0xF0, 0x7E, 0xF7}, true, {}},
      {"F7 is a literal", {0xF0, 0xF7, 0xFF}, {0xF0, 0xF6}, false, {}},
      {"skip matches any value", {0xFE, 0xFE, 0xFF}, {0xFF, 0x00}, true, {}},
      {"capture of FF and 00", {0xFD, 0xFD, 0xFF}, {0xFF, 0x00, 0x55}, true, {0xFF, 0x00}},
      {"bytes behind FF in the pattern do not count", {0xF0, 0xFF, 0x42}, {0xF0, 0x41}, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Match(c.pattern, c.data);
    EXPECT_EQ(outcome.matched, c.matches);
    EXPECT_EQ(outcome.captures, c.captures);
  }
}

// 80..EF, F1..F6 and F8..FC are no pattern codes: a buffer that reaches one
// never matches, even when the data byte is the same value.
TEST(ListenerPattern, ForbiddenPatternBytesNeverMatch) {
  for (int code = 0x80; code <= 0xFC; ++code) {
    if (code == 0xF0 || code == 0xF7) continue;
    const auto byte = static_cast<std::uint8_t>(code);
    SCOPED_TRACE(code);
    EXPECT_FALSE(Match({0xF0, byte, 0xFF}, {0xF0, byte, 0x00}).matched);
    // Before it, the pattern would have matched.
    EXPECT_TRUE(Match({0xF0, 0xFF, byte}, {0xF0, byte}).matched);
  }
}

TEST(ListenerPattern, CapturesStopAtTheLimit) {
  const Bytes data(ListenerCaptureLimit + 1, 0x11);
  Bytes upToLimit(ListenerCaptureLimit, 0xFD);
  upToLimit.push_back(0xFF);
  const Outcome full = Match(upToLimit, data);
  EXPECT_TRUE(full.matched);
  EXPECT_EQ(full.captures.size(), ListenerCaptureLimit);

  Bytes beyond(ListenerCaptureLimit + 1, 0xFD);
  beyond.push_back(0xFF);
  EXPECT_FALSE(Match(beyond, data).matched);

  // Skips do not count against the limit.
  Bytes skipsThenCaptures(ListenerCaptureLimit, 0xFD);
  skipsThenCaptures.insert(skipsThenCaptures.begin(), 0xFE);
  skipsThenCaptures.push_back(0xFF);
  EXPECT_TRUE(Match(skipsThenCaptures, data).matched);
}

TEST(ListenerPattern, NeverReadsBeyondTheLimitOrTheData) {
  // A pattern without its FF inside the limit does not match, and is not
  // read past the limit (the byte behind it would have ended the pattern).
  const Bytes pattern = {0xF0, 0x41, 0xFF};
  std::array<std::uint8_t, ListenerCaptureLimit> captures{};
  int count = 0;
  const Bytes data = {0xF0, 0x41, 0x10};
  EXPECT_FALSE(MatchListenerPattern(pattern.data(), 2, data, captures, count));
  EXPECT_TRUE(MatchListenerPattern(pattern.data(), 3, data, captures, count));
  EXPECT_FALSE(MatchListenerPattern(nullptr, 10, data, captures, count));
  EXPECT_EQ(count, 0);
}

}  // namespace
