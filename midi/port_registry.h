// Bringing the MIDI transport up and down: the wake event, the dispatcher
// thread, and every MIDI input and output opened into PortList.
#pragma once

#include <cstdint>
#include <span>

#include "platform/dialogs.h"
#include "platform/midi_driver.h"

namespace midi {

// Input buffers queued on every input port. Drivers hand input back in
// pieces (one buffer per message, or a few bytes each: Windows' newer MIDI
// stack handed out 6-byte pieces for a while) and drop what finds no buffer
// queued, and another program's traffic on a shared port takes buffers too.
// Until the dispatcher gives a buffer back, the next piece needs another:
// sixteen hold a reply behind 90 bytes of stray SysEx even in 6-byte pieces.
// Two, as a first design had it, lost the instrument's replies that way.
inline constexpr std::uint32_t InputBuffersPerPort = 16;

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

// Closes every port whose device has gone (PortLost) and opens it again where
// the driver offers a device of the same name once more (an interface plugged
// back in), in the same record: its PortEnabled stays as the user set it.
// Ports not offered again stay lost. Returns how many came back. The scan
// calls it first: winmm finds a replugged interface only when its ports are
// opened anew.
int ReopenLostPorts();

// Stops the dispatcher, then closes and frees every port. Safe after a failed
// or missing initialisation, and when called twice.
void MidiTransportShutdown();

}  // namespace midi
