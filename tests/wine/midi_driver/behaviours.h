// What a run chooses through KF_WINE_MIDI: the MIDI world's behaviours
// (platform/sim/world_behaviours.h has the table and its syntax) and the
// settings of the instrument behind the driver. Read once per process, when
// the driver is first used. A setting the driver does not know, or a
// malformed one, is refused: the driver then offers no ports at all, so the
// run fails instead of testing nothing.
#pragma once

#include <optional>
#include <string>

#include "emulator/virtual_faults.h"
#include "platform/sim/world_behaviours.h"

namespace kfmidi {

struct Behaviours {
  sim::WorldBehaviours world;
  std::optional<emulator::FaultRates> faults;
  std::string firmware;
  std::string refusal;  // why KF_WINE_MIDI was refused; empty when it was not
};

// KF_WINE_MIDI of this process, parsed on the first call.
const Behaviours& ProcessBehaviours();

}  // namespace kfmidi
