// A simulated world in a few lines: a virtual clock, scripted dialogs, the
// recording progress view and the simulated MIDI driver (in its virtual
// mode), installed as the platform for as long as the World lives. Tests and
// the command line's dry run start from here; ports, devices and answers are
// added to the members.
//
// After every clock event the World waits until the driver has its buffers
// back and the transport's dispatcher is idle, so a scenario with the
// transport on top runs the same way every time, to the millisecond and to
// the buffer. Anything that runs on the installed platform (the MIDI
// transport above all) must be shut down before the World goes.
//
// The World sits above the simulated platform and the transport, not beside
// the driver: it waits for the transport's dispatcher.
#pragma once

#include <cstdint>

#include "platform/services.h"
#include "platform/sim/scripted_dialogs.h"
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/virtual_clock.h"
#include "progress/recording_progress_view.h"

namespace emulator {

class World {
 public:
  explicit World(std::uint32_t startTime = 0);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // The module handle installed for the simulated program.
  static platform::ModuleHandle Module();

  sim::VirtualClock clock;
  sim::ScriptedDialogs dialogs;
  progress::RecordingProgressView progress;
  sim::SimMidiDriver midi;
};

}  // namespace emulator
