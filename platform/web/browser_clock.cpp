#include "platform/web/browser_clock.h"

#include <emscripten.h>

#include <cmath>

namespace web {

void BrowserClock::Sleep(std::uint32_t milliseconds) { emscripten_sleep(milliseconds); }

std::uint32_t BrowserClock::TickCount() {
  // Wraps at 2^32 like GetTickCount; the engine compares with TickDiff.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::floor(emscripten_get_now())));
}

}  // namespace web
