// Arbitrary listener patterns against arbitrary input data. The first two
// bytes give the pattern's length (big-endian, so patterns can reach the
// 1,024-capture limit); the pattern and the data then sit in buffers of
// exactly their size, so ASan reports any read beyond them. Each result is
// checked against the rules of the pattern language, written out here on
// their own; a broken rule traps.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "midi/listener_pattern.h"

using namespace midi;

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsCode(std::uint8_t byte) {
  return byte < 0x80 || byte == 0xF0 || byte == 0xF7 || byte == PatternCapture || byte == PatternSkip;
}

// What the language says about pattern and data, position by position.
void CheckAgainstRules(const std::uint8_t* pattern, std::size_t limit, std::span<const std::uint8_t> data,
                       bool matched, std::span<const std::uint8_t> captures, int count) {
  Require(count >= 0 && static_cast<std::size_t>(count) <= ListenerCaptureLimit);
  std::size_t expectedCaptures = 0;
  for (std::size_t i = 0; i < limit; ++i) {
    const std::uint8_t code = pattern[i];
    if (code == PatternEnd) {
      Require(matched);
      Require(static_cast<std::size_t>(count) == expectedCaptures);
      return;
    }
    if (i >= data.size() || !IsCode(code)) break;
    if (code == PatternCapture) {
      if (expectedCaptures == ListenerCaptureLimit) break;
      if (matched) Require(captures[expectedCaptures] == data[i]);
      ++expectedCaptures;
    } else if (code != PatternSkip && code != data[i]) {
      break;
    }
  }
  Require(!matched && count == 0);
}

void Run(const std::uint8_t* pattern, std::size_t limit, std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, ListenerCaptureLimit> captures{};
  int count = -1;
  const bool matched = MatchListenerPattern(pattern, limit, data, captures, count);
  CheckAgainstRules(pattern, limit, data, matched, captures, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t patternLength = std::min<std::size_t>(std::size_t{input[0]} << 8 | input[1], size - 2);
  const std::size_t dataLength = size - 2 - patternLength;
  auto pattern = std::make_unique<std::uint8_t[]>(patternLength + 1);
  auto data = std::make_unique<std::uint8_t[]>(dataLength + 1);
  std::copy_n(input + 2, patternLength, pattern.get());
  std::copy_n(input + 2 + patternLength, dataLength, data.get());
  const std::span<const std::uint8_t> bytes(data.get(), dataLength);

  // As given: the matcher may read the whole pattern but not beyond it.
  Run(pattern.get(), patternLength, bytes);
  // As the dispatcher calls it, with a limit of the data's length plus one,
  // on a pattern that ends with FF within its buffer.
  pattern[patternLength] = PatternEnd;
  Run(pattern.get(), std::min(patternLength + 1, dataLength + 1), bytes);
  return 0;
}
