// What the Ports page shows and changes, apart from the window plumbing: the
// order of its items, each port's text and state image, and the enabling
// rules. The page keeps no copy of a port's state: PortEnabled in the port's
// flags is the state, read whenever an item is drawn.
#pragma once

#include <cstddef>
#include <vector>

#include "midi/transport_records.h"

// Images of the port-state list, in the order the image list is built.
enum PortImage : int {
  PortImageInputEnabled = 0,
  PortImageInputDisabled = 1,
  PortImageOutputEnabled = 2,
  PortImageOutputDisabled = 3,
};

inline constexpr char NoPortText[] = "Nope";

// Every port of PortList, inputs first, then outputs; PortList order within
// each group.
std::vector<MidiPort*> PortsInDisplayOrder();

// True when `candidate` is a port of PortList: item data that is not one is
// never used as a port.
bool IsListedPort(const void* candidate);

// (input ? 0 : 2) + (enabled ? 0 : 1); image 2 without a port.
int PortImageIndex(const MidiPort* port);

// "In03[0041 0102]: name" into `text`, cut to `capacity` (terminated when
// capacity is above 0); "Nope" without a port.
void FormatPortItem(const MidiPort* port, char* text, std::size_t capacity);

// Flips PortEnabled of one port; the dispatcher sees the change from its next
// buffer on.
void TogglePortEnabled(MidiPort& port);
// Sets or clears PortEnabled of every port in PortList.
void SetAllPortsEnabled(bool enabled);
