// Bringing the MIDI transport up and down: the wake event, the dispatcher
// thread, and every MIDI input and output opened into PortList.
#pragma once

#include <cstdint>
#include <span>

#include "platform/dialogs.h"
#include "platform/midi_driver.h"

namespace midi {

// Opens every port the driver offers. Returns 1 when there is at least one
// input and at least one output (whether or not any could be opened), and 0
// when inputs or outputs are missing altogether, or when the dispatcher
// thread cannot be started (then no port is opened). `owner` owns the
// progress window shown meanwhile. Called once per process.
int MidiTransportInit(platform::WindowHandle owner);

// A port the last MidiTransportInit could not open, with the driver's answer.
// It is left out of PortList; the Windows program says nothing of it, the
// command line names it (a port held by another program is the usual cause).
struct UnopenedPort {
  bool input;
  std::uint32_t index;                                   // the driver's device index
  char name[sizeof(platform::MidiInCaps::szPname) + 1];  // always terminated
  std::uint32_t error;                                   // e.g. 4, MMSYSERR_ALLOCATED: in use
};
// In the order the ports were tried; valid until the next initialisation.
std::span<const UnopenedPort> UnopenedPorts();

// Stops the dispatcher, then closes and frees every port. Safe after a failed
// or missing initialisation, and when called twice.
void MidiTransportShutdown();

}  // namespace midi
