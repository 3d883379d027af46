// The real clock on Windows: Sleep and GetTickCount, and 1 ms timer
// resolution on request.
#pragma once

#include "platform/clock.h"

namespace win32 {

class Win32Clock final : public platform::Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t TickCount() override;
  void BeginFineResolution() override;
  void EndFineResolution() override;
};

}  // namespace win32
