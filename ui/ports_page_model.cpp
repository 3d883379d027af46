#include "ui/ports_page_model.h"

#include <cstdio>

namespace {

constexpr std::size_t PortNameSize = sizeof(platform::MidiInCaps::szPname);  // 31 and a NUL

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

void FormatPortItem(const MidiPort* port, char* text, std::size_t capacity) {
  if (text == nullptr || capacity == 0) return;
  if (port == nullptr) {
    std::snprintf(text, capacity, "%s", NoPortText);
    return;
  }
  char name[PortNameSize];
  PortCopyName(port, name, sizeof name);
  std::snprintf(text, capacity, "%s%02u[%04X %04X]: %s", IsInput(*port) ? "In" : "Out",
                port->device & PortDeviceIndexMask, unsigned{port->caps.in.wMid},
                unsigned{port->caps.in.wPid}, name);
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
