#include "ui/ports_page_model.h"

namespace ui {

using midi::MidiPort;
using midi::PortEnabled;
using midi::PortInput;
using midi::PortList;

namespace {

bool IsInput(const MidiPort& port) {
  return (port.flags.load(std::memory_order_relaxed) & PortInput) != 0;
}

}  // namespace

std::vector<MidiPort*> PortsInDisplayOrder() {
  std::vector<MidiPort*> ports;
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (IsInput(*port)) ports.push_back(port);
  }
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (!IsInput(*port)) ports.push_back(port);
  }
  return ports;
}

bool IsListedPort(const void* candidate) {
  if (candidate == nullptr) return false;
  for (const MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (port == candidate) return true;
  }
  return false;
}

int PortImageIndex(const MidiPort* port) {
  if (port == nullptr) return PortImageOutputEnabled;
  const std::uint32_t flags = port->flags.load(std::memory_order_relaxed);
  return ((flags & PortInput) != 0 ? PortImageInputEnabled : PortImageOutputEnabled) +
         ((flags & PortEnabled) != 0 ? 0 : 1);
}

void TogglePortEnabled(MidiPort& port) { port.flags.fetch_xor(PortEnabled, std::memory_order_relaxed); }

void SetAllPortsEnabled(bool enabled) {
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (enabled) {
      port->flags.fetch_or(PortEnabled, std::memory_order_relaxed);
    } else {
      port->flags.fetch_and(~PortEnabled, std::memory_order_relaxed);
    }
  }
}

}  // namespace ui
