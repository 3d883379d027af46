// Bringing the MIDI transport up and down: the wake event, the dispatcher
// thread, and every MIDI input and output opened into PortList.
#pragma once

#include "platform/dialogs.h"

namespace midi {

// Opens every port the driver offers. Returns 1 when there is at least one
// input and at least one output (whether or not any could be opened), and 0
// when inputs or outputs are missing altogether, or when the dispatcher
// thread cannot be started (then no port is opened). `owner` owns the
// progress window shown meanwhile. Called once per process.
int MidiTransportInit(platform::WindowHandle owner);

// Stops the dispatcher, then closes and frees every port. Safe after a failed
// or missing initialisation, and when called twice.
void MidiTransportShutdown();

}  // namespace midi
