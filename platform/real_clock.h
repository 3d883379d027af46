// The real clock on std::chrono, for native programs (the command line on
// Linux) and for tests with real threads. Sleep blocks the thread; the tick
// count is milliseconds of the steady clock, wrapping at 2^32 like
// GetTickCount.
#pragma once

#include "platform/clock.h"

namespace platform {

class RealClock final : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t TickCount() override;
};

}  // namespace platform
