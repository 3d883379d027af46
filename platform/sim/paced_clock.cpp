#include "platform/sim/paced_clock.h"

namespace sim {

PacedClock::PacedClock(VirtualClock& virtualClock, platform::Clock& realClock, std::uint32_t scale)
    : virtual_(virtualClock), real_(realClock), scale_(scale < 1 ? 1 : scale) {}

void PacedClock::Sleep(std::uint32_t milliseconds) {
  virtual_.Sleep(milliseconds);
  std::uint32_t realMs = 0;
  {
    std::lock_guard lock(mutex_);
    owedVirtualMs_ += milliseconds;
    realMs = static_cast<std::uint32_t>(owedVirtualMs_ / scale_);
    owedVirtualMs_ -= std::uint64_t{realMs} * scale_;
  }
  if (realMs > 0) real_.Sleep(realMs);
}

}  // namespace sim
