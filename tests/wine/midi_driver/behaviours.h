// The driver behaviours a run chooses through KF_WINE_MIDI (the driver's
// entry file documents the syntax). Read once per process, when the driver
// is first used; a malformed setting is reported on stderr and ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "emulator/virtual_faults.h"

namespace kfmidi {

struct Behaviours {
  std::uint32_t split = 0;  // 0: buffers come back at F7 or when full
  bool syncDone = false;
  std::uint32_t notReady = 0;
  bool busyIn = false;
  double longError = 0;
  std::optional<emulator::FaultRates> faults;
  std::string firmware;
};

// KF_WINE_MIDI of this process, parsed on the first call.
const Behaviours& ProcessBehaviours();

}  // namespace kfmidi
