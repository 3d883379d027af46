// The clock seam. Every wait of the system (pacing pauses, reply polling,
// hold and minimum display times, retries) goes through it, so that the
// simulated clock can run a whole upload in virtual time, deterministically.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Blocks the calling thread for the given number of milliseconds.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Milliseconds since an arbitrary start; wraps at 2^32. Compare with signed
  // 32-bit differences (see TickDiff).
  virtual std::uint32_t TickCount() = 0;
  // Asked for while the MIDI transport is up: the default Windows timer tick
  // (15.6 ms) would stretch every 20 ms pacing pause to about 31 ms.
  virtual void BeginFineResolution() {}
  virtual void EndFineResolution() {}
};

// Signed distance from `from` to `to`, correct across a wrap of the counter.
inline std::int32_t TickDiff(std::uint32_t to, std::uint32_t from) {
  return static_cast<std::int32_t>(to - from);
}

}  // namespace platform
