// The engine's clock in the browser. Sleep suspends the engine: the
// WebAssembly stack is unwound (Asyncify), a timer of the Worker resumes it,
// and meanwhile the Worker handles its messages (MIDI input from the page,
// the answer to a box). TickCount is the Worker's performance.now() in whole
// milliseconds.
//
// The engine runs in a dedicated Worker because a browser throttles the
// timers of a hidden tab's page (about one per second, after a few minutes
// about one per minute) and not a Worker's: the pacing pauses and reply polls
// keep their milliseconds when the tab is in the background.
#pragma once

#include "platform/clock.h"

namespace web {

class BrowserClock final : public platform::Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t TickCount() override;
};

}  // namespace web
