// What the Ports page shows and changes, apart from the window plumbing: the
// order of its items, each port's state image, and the enabling rules (the
// item text is texts::FormatPortItem). The page keeps no copy of a port's state: PortEnabled in the
// port's flags is the state, read whenever an item is drawn.
#pragma once

#include <cstddef>
#include <vector>

#include "midi/transport_records.h"

namespace ui {

// Images of the port-state list, in the order the image list is built.
enum PortImage : int {
  PortImageInputEnabled = 0,
  PortImageInputDisabled = 1,
  PortImageOutputEnabled = 2,
  PortImageOutputDisabled = 3,
};

// Every port of PortList, inputs first, then outputs; PortList order within
// each group.
std::vector<midi::MidiPort*> PortsInDisplayOrder();

// True when `candidate` is a port of PortList: item data that is not one is
// never used as a port.
bool IsListedPort(const void* candidate);

// (input ? 0 : 2) + (enabled ? 0 : 1); image 2 without a port.
int PortImageIndex(const midi::MidiPort* port);

// Flips PortEnabled of one port; the dispatcher sees the change from its next
// buffer on.
void TogglePortEnabled(midi::MidiPort& port);
// Sets or clears PortEnabled of every port in PortList.
void SetAllPortsEnabled(bool enabled);

}  // namespace ui
