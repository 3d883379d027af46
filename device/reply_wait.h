// Waiting for the instrument: poll a reply flag in fixed sleep steps against a
// millisecond budget, on the clock seam.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/services.h"

// Polls `received` before each step of `stepMs` until `budgetMs` is used up.
// True when a reply was seen. A reply that arrived during the last step is
// still within the budget and counts.
inline bool WaitForReply(const std::atomic<std::uint32_t>& received, std::int32_t budgetMs,
                         std::uint32_t stepMs) {
  do {
    if (received.load(std::memory_order_acquire) != 0) return true;
    platform::Time().Sleep(stepMs);
    budgetMs -= static_cast<std::int32_t>(stepMs);
  } while (budgetMs > 0);
  return received.load(std::memory_order_acquire) != 0;
}
