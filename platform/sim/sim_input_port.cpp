// The simulated driver's input operations: open, buffers, start, stop,
// reset and close, as winmm defines them.
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/sim_ports.h"

namespace sim {

std::uint32_t SimMidiDriver::InOpen(platform::MidiHandle* handle, std::uint32_t index,
                                    platform::MidiCallback callback, std::uintptr_t instance) {
  if (index >= inputs_.size()) return SimErrBadDeviceId;
  InPort& port = *inputs_[index];
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
      port.started = false;
      port.callback = callback;
      port.instance = instance;
      port.assembly = {};
      *handle = &port;
    }
  }
  Log(DriverCall::InOpen, index, result, nullptr);
  if (result == 0) NoteWorldOpen(IsWorldInput(port));
  if (result == 0 && callback != nullptr) callback(&port, platform::MimOpen, instance, 0, 0);
  return result;
}

std::uint32_t SimMidiDriver::InPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  InPort* port = FindIn(handle);
  std::uint32_t result = 0;
  if (port == nullptr || header == nullptr) {
    result = platform::MmSysErrInvalHandle;
  } else {
    std::lock_guard lock(port->mutex);
    if (port->gone != 0) result = port->gone;
    else if (!port->open) result = platform::MmSysErrInvalHandle;
    else if ((header->dwFlags & platform::MhdrInQueue) != 0) result = platform::MidiErrStillPlaying;
    else header->dwFlags |= platform::MhdrPrepared;
  }
  if (result == platform::MidiErrStillPlaying) anomalies_.fetch_add(1);
  Log(DriverCall::InPrepare, port != nullptr ? port->index : 0, result, header);
  return result;
}

std::uint32_t SimMidiDriver::InUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  InPort* port = FindIn(handle);
  std::uint32_t result = 0;
  if (port == nullptr || header == nullptr) {
    result = platform::MmSysErrInvalHandle;
  } else {
    std::lock_guard lock(port->mutex);
    if (port->gone != 0) result = port->gone;
    else if ((header->dwFlags & platform::MhdrInQueue) != 0) result = platform::MidiErrStillPlaying;
    else header->dwFlags &= ~platform::MhdrPrepared;
  }
  if (result == platform::MidiErrStillPlaying) anomalies_.fetch_add(1);
  // An unplugged port's buffers come back to the dispatcher for good.
  else if (result != 0 && port != nullptr && header != nullptr) MarkGivenBack(header);
  Log(DriverCall::InUnprepare, port != nullptr ? port->index : 0, result, header);
  return result;
}

std::uint32_t SimMidiDriver::InAddBuffer(platform::MidiHandle handle, platform::MidiHeader* header) {
  InPort* port = FindIn(handle);
  if (port == nullptr || header == nullptr) return platform::MmSysErrInvalHandle;
  // The dispatcher is done with the buffer, whether or not it can be added.
  MarkGivenBack(header);
  std::uint32_t result = 0;
  {
    std::lock_guard lock(port->mutex);
    ++port->addCalls;
    if (port->gone != 0) {
      result = port->gone;
    } else if (!port->open) {
      result = platform::MmSysErrInvalHandle;
    } else if ((header->dwFlags & platform::MhdrInQueue) != 0) {
      result = platform::MidiErrStillPlaying;
      anomalies_.fetch_add(1);
    } else if ((header->dwFlags & platform::MhdrPrepared) == 0) {
      result = platform::MidiErrUnprepared;
    } else if (const std::uint32_t fault = FaultFor(port->addFaults, port->addCalls); fault != 0) {
      result = fault;
    } else {
      MarkQueued(header);
      header->dwBytesRecorded = 0;
      port->queue.Push(header);
      port->starved = false;
    }
  }
  if (result == 0) port->bufferAdded.notify_all();
  Log(DriverCall::InAddBuffer, port->index, result, header);
  return result;
}

std::uint32_t SimMidiDriver::InStart(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  {
    std::lock_guard lock(port->mutex);
    if (port->gone != 0) return port->gone;
    if (!port->open) return platform::MmSysErrInvalHandle;
    port->started = true;
    port->startedAt = clock_.TickCount();
  }
  Log(DriverCall::InStart, port->index, 0, nullptr);
  return 0;
}

std::uint32_t SimMidiDriver::InStop(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  Notices notices;
  {
    std::lock_guard lock(port->mutex);
    if (port->gone != 0) return port->gone;
    port->started = false;
    // A message in progress is returned as far as it came; empty buffers
    // stay queued.
    if (port->queue.head != nullptr && port->queue.head->dwBytesRecorded > 0) {
      HandBack(*port, platform::MimLongData, notices);
    }
    port->assembly.inSysEx = false;
  }
  port->bufferAdded.notify_all();
  notices.Send();
  Log(DriverCall::InStop, port->index, 0, nullptr);
  return 0;
}

std::uint32_t SimMidiDriver::InReset(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  HeaderQueue returned;
  platform::MidiCallback callback;
  std::uintptr_t instance;
  {
    std::lock_guard lock(port->mutex);
    if (port->gone != 0) return port->gone;
    port->started = false;
    port->assembly.inSysEx = false;
    returned = port->queue;
    port->queue = HeaderQueue{};
    callback = port->callback;
    instance = port->instance;
  }
  port->bufferAdded.notify_all();
  Log(DriverCall::InReset, port->index, 0, nullptr);
  // Every queued buffer goes back marked done, in queue order.
  returned.HandBackAll(callback, port, platform::MimLongData, instance);
  return 0;
}

std::uint32_t SimMidiDriver::InClose(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
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
    } else if (port->queue.size > 0) {
      result = platform::MidiErrStillPlaying;
    } else {
      port->open = false;
      port->started = false;
      callback = port->callback;
      instance = port->instance;
      port->callback = nullptr;
    }
  }
  port->bufferAdded.notify_all();
  Log(DriverCall::InClose, port->index, result, nullptr);
  if (callback != nullptr) callback(port, platform::MimClose, instance, 0, 0);
  return result;
}

}  // namespace sim
