// ListenerPattern: the byte pattern a SysEx listener waits for, compared with
// the start of one input buffer, one pattern byte per data byte:
//   00..7F, F0, F7   the data byte must be equal
//   FD               any byte, appended to the captures
//   FE               any byte, not captured
//   FF               end of the pattern: match (consumes no data byte)
//   anything else    never matches
// Data behind the FF is not looked at, so a pattern matches a prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace midi {

inline constexpr std::uint8_t PatternCapture = 0xFD;
inline constexpr std::uint8_t PatternSkip = 0xFE;
inline constexpr std::uint8_t PatternEnd = 0xFF;
inline constexpr std::size_t ListenerCaptureLimit = 1024;

// True when the pattern matches the start of `data`. The captured bytes are
// written to `captures` from index 0 and counted in `count` (0 when the
// pattern does not match); a capture beyond the 1,024th fails the match. At most
// `patternLimit` pattern bytes are read: a pattern without an FF inside them
// does not match. The matcher never needs more than data.size() + 1 bytes of
// a pattern, since every byte before the FF consumes one data byte.
bool MatchListenerPattern(const std::uint8_t* pattern, std::size_t patternLimit,
                          std::span<const std::uint8_t> data,
                          std::span<std::uint8_t, ListenerCaptureLimit> captures, int& count);

}  // namespace midi
