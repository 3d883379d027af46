// The simulated driver's output operations: open, headers, long messages,
// reset and close, as winmm defines them.
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/sim_ports.h"

namespace sim {
namespace {

constexpr std::uint32_t PreparedOrQueued = platform::MhdrPrepared | platform::MhdrInQueue;

}  // namespace

std::uint32_t SimMidiDriver::OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                                     platform::MidiCallback callback, std::uintptr_t instance) {
  if (index >= outputs_.size()) return SimErrBadDeviceId;
  OutPort& port = *outputs_[index];
  std::uint32_t result = 0;
  {
    std::lock_guard lock(port.mutex);
    if (port.gone != 0) {
      result = port.gone;
    } else if (port.config.openError != 0) {
      result = port.config.openError;
    } else if (port.open) {
      result = platform::MmSysErrAllocated;
    } else {
      port.open = true;
      port.callback = callback;
      port.instance = instance;
      port.wireFreeAt = clock_.TickCount();
      *handle = &port;
    }
  }
  Log(DriverCall::OutOpen, index, result, nullptr);
  if (result == 0) NoteWorldOpen(IsWorldOutput(port));
  if (result == 0 && callback != nullptr) callback(&port, platform::MomOpen, instance, 0, 0);
  return result;
}

std::uint32_t SimMidiDriver::OutPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  OutPort* port = FindOut(handle);
  if (port == nullptr || header == nullptr) return platform::MmSysErrInvalHandle;
  std::uint32_t result = 0;
  {
    std::lock_guard lock(port->mutex);
    ++port->prepareCalls;
    if (port->gone != 0) {
      result = port->gone;
    } else if (!port->open) {
      result = platform::MmSysErrInvalHandle;
    } else if ((header->dwFlags & platform::MhdrInQueue) != 0) {
      result = platform::MidiErrStillPlaying;
      anomalies_.fetch_add(1);
    } else if (const std::uint32_t fault = FaultFor(port->prepareFaults, port->prepareCalls); fault != 0) {
      result = fault;
    } else {
      header->dwFlags |= platform::MhdrPrepared;
    }
  }
  Log(DriverCall::OutPrepare, port->index, result, header);
  return result;
}

std::uint32_t SimMidiDriver::OutUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  OutPort* port = FindOut(handle);
  if (port == nullptr || header == nullptr) return platform::MmSysErrInvalHandle;
  std::uint32_t result = 0;
  bool unplugged = false;
  {
    std::lock_guard lock(port->mutex);
    unplugged = port->gone != 0;
    if (unplugged) {
      result = port->gone;
    } else if ((header->dwFlags & platform::MhdrInQueue) != 0) {
      result = platform::MidiErrStillPlaying;
      anomalies_.fetch_add(1);
    } else {
      header->dwFlags &= ~platform::MhdrPrepared;
    }
  }
  // Unplugged, the buffer is the dispatcher's all the same.
  if (result == 0 || unplugged) MarkGivenBack(header);
  Log(DriverCall::OutUnprepare, port->index, result, header);
  return result;
}

std::uint32_t SimMidiDriver::OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) {
  OutPort* port = FindOut(handle);
  if (port == nullptr || header == nullptr) return platform::MmSysErrInvalHandle;
  std::uint32_t result = 0;
  std::uint32_t sequence = 0;
  const std::uint32_t length = header->dwBufferLength;
  {
    std::lock_guard lock(port->mutex);
    ++port->longCalls;
    if (port->gone != 0) {
      result = port->gone;
    } else if (!port->open) {
      result = platform::MmSysErrInvalHandle;
    } else if ((header->dwFlags & PreparedOrQueued) != platform::MhdrPrepared) {
      result = (header->dwFlags & platform::MhdrInQueue) != 0 ? platform::MidiErrStillPlaying
                                                               : platform::MidiErrUnprepared;
      anomalies_.fetch_add(1);
    } else if (const std::uint32_t fault = FaultFor(port->longFaults, port->longCalls); fault != 0) {
      result = fault;
    } else {
      sequence = port->nextSequence++;
      MarkQueued(header);
      header->dwReserved[SlotSequence] = sequence;
      header->dwReserved[SlotTraffic] = 0;
      if (recordTraffic_.load(std::memory_order_relaxed)) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
        port->sent.push_back({clock_.TickCount(), 0, false, {bytes, bytes + length}});
        header->dwReserved[SlotTraffic] = port->sent.size();
      }
      port->inFlight.Push(header);
    }
  }
  Log(DriverCall::OutLongMsg, port->index, result, header);
  if (result == 0) BlockUntil(ScheduleCompletion(*port, length, sequence));
  return result;
}

std::uint32_t SimMidiDriver::OutReset(platform::MidiHandle handle) {
  OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  HeaderQueue returned;
  platform::MidiCallback callback;
  std::uintptr_t instance;
  {
    std::lock_guard completion(port->completionMutex);
    std::lock_guard lock(port->mutex);
    if (port->gone != 0) return port->gone;
    returned = port->inFlight;
    port->inFlight = HeaderQueue{};
    port->wireFreeAt = clock_.TickCount();
    port->inMessage = false;
    port->message.clear();
    callback = port->callback;
    instance = port->instance;
  }
  Log(DriverCall::OutReset, port->index, 0, nullptr);
  // Pending sends come back at once, marked done; the completions scheduled
  // for them find nothing to complete.
  returned.HandBackAll(callback, port, platform::MomDone, instance);
  return 0;
}

std::uint32_t SimMidiDriver::OutClose(platform::MidiHandle handle) {
  OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  platform::MidiCallback callback = nullptr;
  std::uintptr_t instance = 0;
  std::uint32_t result = 0;
  {
    std::lock_guard lock(port->mutex);
    if (port->gone != 0) {
      result = port->gone;
    } else if (!port->open) {
      result = platform::MmSysErrInvalHandle;
    } else if (port->inFlight.size > 0) {
      result = platform::MidiErrStillPlaying;
    } else {
      port->open = false;
      callback = port->callback;
      instance = port->instance;
      port->callback = nullptr;
    }
  }
  Log(DriverCall::OutClose, port->index, result, nullptr);
  if (callback != nullptr) callback(port, platform::MomClose, instance, 0, 0);
  return result;
}

}  // namespace sim
