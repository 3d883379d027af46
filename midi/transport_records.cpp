#include "midi/transport_records.h"

#include <cstring>

#include "midi/input_dispatcher.h"

namespace midi {

MidiPort* PortList = nullptr;
platform::CallbackLock PoolLock;
std::mutex ListenerLock;
platform::WakeEvent* DispatcherWake = nullptr;
std::atomic<std::uint32_t> DispatcherStop{0};
std::thread* DispatcherHandle = nullptr;
platform::MidiHeader* DispatchQueue = nullptr;
std::atomic<TransportAllocationRefusal> RefuseTransportAllocation{nullptr};

std::uint32_t PortMidPid(const MidiPort* port) {
  if (port == nullptr) return 0;
  return (std::uint32_t{port->caps.in.wMid} << 16) | std::uint32_t{port->caps.in.wPid};
}

char* PortCopyName(const MidiPort* port, char* destination, std::size_t size) {
  // A zero size leaves no room even for the terminator: nothing is written.
  if (destination == nullptr || size == 0) return destination;
  const char* name = port != nullptr ? port->caps.in.szPname : "";
  const std::size_t nameCapacity = port != nullptr ? sizeof port->caps.in.szPname : 1;
  // The name need not be terminated inside its 32 bytes (a careless driver),
  // so it is read only up to there.
  std::size_t i = 0;
  for (; i < size && i < nameCapacity && name[i] != '\0'; ++i) destination[i] = name[i];
  for (; i < size; ++i) destination[i] = '\0';
  destination[size - 1] = '\0';
  return destination;
}

void QueueCompleted(platform::MidiHeader* header) {
  if (header == nullptr) return;
  {
    std::lock_guard lock(PoolLock);
    header->lpNext = nullptr;
    // lpNext is a packed member: walked by value, never through its address.
    if (DispatchQueue == nullptr) {
      DispatchQueue = header;
    } else {
      platform::MidiHeader* last = DispatchQueue;
      while (last->lpNext != nullptr) last = last->lpNext;
      last->lpNext = header;
    }
  }
  WakeDispatcher();
}

bool MarkLostIfGone(MidiPort& port, std::uint32_t error) {
  if (!DeviceGone(error)) return false;
  port.flags.fetch_or(PortLost, std::memory_order_relaxed);
  return true;
}

std::string_view PortName(const MidiPort* port) {
  if (port == nullptr) return {};
  const char* name = port->caps.in.szPname;
  const void* zero = std::memchr(name, '\0', sizeof port->caps.in.szPname);
  return {name, zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - name)
                                : sizeof port->caps.in.szPname};
}

texts::PortFacts DescribePort(const MidiPort& port) {
  return {.input = (port.flags.load(std::memory_order_relaxed) & PortInput) != 0,
          .index = port.device & PortDeviceIndexMask,
          .mid = port.caps.in.wMid,
          .pid = port.caps.in.wPid,
          .name = PortName(&port)};
}

}  // namespace midi
