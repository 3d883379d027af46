#include "midi/listener_pattern.h"

namespace midi {

namespace {

bool IsLiteral(std::uint8_t code) { return code < 0x80 || code == 0xF0 || code == 0xF7; }

}  // namespace

bool MatchListenerPattern(const std::uint8_t* pattern, std::size_t patternLimit,
                          std::span<const std::uint8_t> data,
                          std::span<std::uint8_t, ListenerCaptureLimit> captures, int& count) {
  count = 0;
  if (pattern == nullptr) return false;
  std::size_t captured = 0;
  for (std::size_t i = 0; i < patternLimit; ++i) {
    const std::uint8_t code = pattern[i];
    if (code == PatternEnd) {
      count = static_cast<int>(captured);
      return true;
    }
    if (i >= data.size()) break;  // the data is shorter than the pattern
    const std::uint8_t byte = data[i];
    if (code == PatternCapture) {
      if (captured == captures.size()) break;
      captures[captured++] = byte;
    } else if (code == PatternSkip) {
      continue;
    } else if (!IsLiteral(code) || code != byte) {
      break;
    }
  }
  return false;
}

}  // namespace midi
