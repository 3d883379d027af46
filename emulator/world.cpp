#include "emulator/world.h"

#include <cstdio>
#include <cstdlib>

#include "midi/input_dispatcher.h"

namespace emulator {

using midi::WaitDispatcherIdle;
using sim::SimMidiDriver;

namespace {
char moduleTag;  // its address stands for the module instance
}

platform::ModuleHandle World::Module() { return &moduleTag; }

World::World(std::uint32_t startTime) : clock(startTime), midi(clock) {
  // The driver's settle step ends when the dispatcher has given back what an
  // event delivered; the dispatcher may still be returning an output buffer
  // to the pool then. Waiting for it to go idle keeps even the pool's size
  // the same in every run.
  midi.SetSettleFollowUp([this] {
    if (WaitDispatcherIdle(midi.SettleTimeout())) return;
    std::fprintf(stderr, "World: the MIDI dispatcher did not go idle within %u ms of real time\n",
                 midi.SettleTimeout());
    std::abort();
  });
  platform::Install({Module(), &midi, &clock, &dialogs, &progress});
}

World::~World() { platform::Install({}); }

}  // namespace emulator
