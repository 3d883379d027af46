#include "platform/web/browser_clock.h"

#include <emscripten.h>

#include <cmath>

namespace web {

void BrowserClock::Sleep(std::uint32_t milliseconds) {
  const double until = emscripten_get_now() + milliseconds;
  emscripten_sleep(milliseconds);
  // A Worker's timer may fire a fraction of a millisecond early, and the
  // pacing pauses are the least the instrument needs: the rest is slept too.
  for (double now = emscripten_get_now(); now < until; now = emscripten_get_now()) {
    emscripten_sleep(static_cast<unsigned>(std::ceil(until - now)));
  }
}

std::uint32_t BrowserClock::TickCount() {
  // Wraps at 2^32 like GetTickCount; the engine compares with TickDiff.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::floor(emscripten_get_now())));
}

}  // namespace web
