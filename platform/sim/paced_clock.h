// A virtual clock that lets real time pass too: every Sleep advances the
// virtual clock (running its events, as ever) and then blocks on a real
// clock for the same span divided by `scale`. The simulated Windows program
// uses it so that a flash of virtual minutes takes real seconds and its
// windows can still be watched; what happens, and when in virtual time, is
// exactly what the virtual clock alone would give.
//
// Real pauses are whole milliseconds; the virtual remainder below one real
// millisecond is carried into the next Sleep, so over a run the real pauses
// add up to the virtual time slept divided by `scale`, rounded down.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/clock.h"
#include "platform/sim/virtual_clock.h"

namespace sim {

class PacedClock final : public platform::Clock {
 public:
  // A scale below 1 counts as 1 (real time).
  PacedClock(VirtualClock& virtualClock, platform::Clock& realClock, std::uint32_t scale);

  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t TickCount() override { return virtual_.TickCount(); }
  // The real clock's resolution is what the real pauses rely on.
  void BeginFineResolution() override { real_.BeginFineResolution(); }
  void EndFineResolution() override { real_.EndFineResolution(); }

  std::uint32_t Scale() const { return scale_; }

 private:
  VirtualClock& virtual_;
  platform::Clock& real_;
  const std::uint32_t scale_;
  std::mutex mutex_;
  std::uint64_t owedVirtualMs_ = 0;  // slept virtually, not yet paid in real time
};

}  // namespace sim
