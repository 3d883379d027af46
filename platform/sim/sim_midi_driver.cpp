// The simulated driver's operations: enumeration, opening and closing,
// header preparation, sending, and the configuration and observation that
// tests use. Input parsing and delivery live in their own files.
#include "platform/sim/sim_midi_driver.h"

#include <algorithm>
#include <cstring>

#include "platform/sim/sim_ports.h"

namespace sim {
namespace {

constexpr std::uint32_t SimDriverVersion = 0x0100;
constexpr std::uint32_t PreparedOrQueued = platform::MhdrPrepared | platform::MhdrInQueue;

template <typename Caps>
void FillCommonCaps(Caps* caps, const std::string& name, std::uint16_t mid, std::uint16_t pid) {
  caps->wMid = mid;
  caps->wPid = pid;
  caps->vDriverVersion = SimDriverVersion;
  std::memset(caps->szPname, 0, sizeof caps->szPname);
  std::memcpy(caps->szPname, name.data(), std::min(name.size(), sizeof caps->szPname));
}

}  // namespace

SimMidiDriver::SimMidiDriver(VirtualClock& clock) : clock_(clock), virtual_(&clock) {
  clock.SetSettle([this] { Settle(); });
}

SimMidiDriver::SimMidiDriver(platform::Clock& clock, int outputThreads)
    : clock_(clock), virtual_(nullptr) {
  StartWorkers(std::max(outputThreads, 1));
}

SimMidiDriver::~SimMidiDriver() {
  StopWorkers();
  if (virtual_ != nullptr) virtual_->SetSettle(nullptr);
}

// --- configuration -----------------------------------------------------------

std::uint32_t SimMidiDriver::AddInput(SimInputConfig config) {
  auto port = std::make_unique<InPort>();
  port->driver = this;
  port->wireFreeAt = clock_.TickCount();
  port->index = static_cast<std::uint32_t>(inputs_.size());
  port->config = std::move(config);
  inputs_.push_back(std::move(port));
  return inputs_.back()->index;
}

std::uint32_t SimMidiDriver::AddOutput(SimOutputConfig config) {
  auto port = std::make_unique<OutPort>();
  port->driver = this;
  port->index = static_cast<std::uint32_t>(outputs_.size());
  port->config = std::move(config);
  port->sent.reserve(1024);
  port->message.reserve(4096);
  outputs_.push_back(std::move(port));
  return outputs_.back()->index;
}

void SimMidiDriver::FailOutPrepare(std::uint32_t output, SimFault fault) {
  std::lock_guard lock(outputs_.at(output)->mutex);
  outputs_[output]->prepareFaults.push_back(fault);
}

void SimMidiDriver::FailLongMsg(std::uint32_t output, SimFault fault) {
  std::lock_guard lock(outputs_.at(output)->mutex);
  outputs_[output]->longFaults.push_back(fault);
}

void SimMidiDriver::FailInAddBuffer(std::uint32_t input, SimFault fault) {
  std::lock_guard lock(inputs_.at(input)->mutex);
  inputs_[input]->addFaults.push_back(fault);
}

void SimMidiDriver::SetOutputByteRate(std::uint32_t bytesPerSecond) { outputRate_ = bytesPerSecond; }
void SimMidiDriver::SetInputByteRate(std::uint32_t bytesPerSecond) { inputRate_ = bytesPerSecond; }

void SimMidiDriver::SetSettleTracking(std::uint32_t input, bool on) {
  std::lock_guard lock(inputs_.at(input)->mutex);
  inputs_[input]->tracked = on;
}

void SimMidiDriver::SetSettleTimeout(std::uint32_t realMilliseconds) {
  std::lock_guard lock(settleMutex_);
  settleTimeoutMs_ = realMilliseconds;
}

void SimMidiDriver::SetSettleFollowUp(std::function<void()> step) { settleFollowUp_ = std::move(step); }

void SimMidiDriver::RecordTraffic(bool on) { recordTraffic_.store(on); }
void SimMidiDriver::RecordCalls(bool on) { recordCalls_.store(on); }

// --- observation -----------------------------------------------------------

std::vector<SentChunk> SimMidiDriver::Sent(std::uint32_t output) const {
  std::lock_guard lock(outputs_.at(output)->mutex);
  return outputs_[output]->sent;
}

std::vector<DriverCallRecord> SimMidiDriver::Calls() const {
  std::lock_guard lock(logMutex_);
  return calls_;
}

std::uint32_t SimMidiDriver::LongMsgCalls(std::uint32_t output) const {
  std::lock_guard lock(outputs_.at(output)->mutex);
  return outputs_[output]->longCalls;
}

std::uint32_t SimMidiDriver::OutputsInFlight(std::uint32_t output) const {
  std::lock_guard lock(outputs_.at(output)->mutex);
  return outputs_[output]->inFlight.size;
}

std::uint32_t SimMidiDriver::OutputsInFlight() const {
  std::uint32_t total = 0;
  for (std::uint32_t i = 0; i < outputs_.size(); ++i) total += OutputsInFlight(i);
  return total;
}

std::uint32_t SimMidiDriver::QueuedInputBuffers(std::uint32_t input) const {
  std::lock_guard lock(inputs_.at(input)->mutex);
  return inputs_[input]->queue.size;
}

std::uint64_t SimMidiDriver::DroppedBytes(std::uint32_t input) const {
  std::lock_guard lock(inputs_.at(input)->mutex);
  return inputs_[input]->dropped;
}

std::uint64_t SimMidiDriver::DiscardedOutputBytes(std::uint32_t output) const {
  std::lock_guard lock(outputs_.at(output)->completionMutex);
  return outputs_[output]->discarded;
}

bool SimMidiDriver::InputOpen(std::uint32_t input) const {
  std::lock_guard lock(inputs_.at(input)->mutex);
  return inputs_[input]->open;
}

bool SimMidiDriver::OutputOpen(std::uint32_t output) const {
  std::lock_guard lock(outputs_.at(output)->mutex);
  return outputs_[output]->open;
}

SimMidiDriver::InPort* SimMidiDriver::FindIn(platform::MidiHandle handle) const {
  for (const auto& port : inputs_) {
    if (port.get() == handle) return port.get();
  }
  return nullptr;
}

SimMidiDriver::OutPort* SimMidiDriver::FindOut(platform::MidiHandle handle) const {
  for (const auto& port : outputs_) {
    if (port.get() == handle) return port.get();
  }
  return nullptr;
}

void SimMidiDriver::Log(DriverCall call, std::uint32_t port, std::uint32_t result,
                        const platform::MidiHeader* header) {
  if (!recordCalls_.load(std::memory_order_relaxed)) return;
  std::lock_guard lock(logMutex_);
  calls_.push_back({call, port, result, clock_.TickCount(), header});
}

// --- enumeration and capabilities ------------------------------------------

std::uint32_t SimMidiDriver::InGetNumDevs() { return static_cast<std::uint32_t>(inputs_.size()); }
std::uint32_t SimMidiDriver::OutGetNumDevs() { return static_cast<std::uint32_t>(outputs_.size()); }

std::uint32_t SimMidiDriver::InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) {
  if (index >= inputs_.size()) return SimErrBadDeviceId;
  const SimInputConfig& config = inputs_[index]->config;
  if (config.capsError != 0) return config.capsError;
  FillCommonCaps(caps, config.name, config.wMid, config.wPid);
  caps->dwSupport = 0;
  return 0;
}

std::uint32_t SimMidiDriver::OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) {
  if (index >= outputs_.size()) return SimErrBadDeviceId;
  const SimOutputConfig& config = outputs_[index]->config;
  if (config.capsError != 0) return config.capsError;
  FillCommonCaps(caps, config.name, config.wMid, config.wPid);
  caps->wTechnology = config.wTechnology;
  caps->wVoices = 0;
  caps->wNotes = 0;
  caps->wChannelMask = 0xFFFF;
  caps->dwSupport = 0;
  return 0;
}

// --- inputs ------------------------------------------------------------------

std::uint32_t SimMidiDriver::InOpen(platform::MidiHandle* handle, std::uint32_t index,
                                    platform::MidiCallback callback, std::uintptr_t instance) {
  if (index >= inputs_.size()) return SimErrBadDeviceId;
  InPort& port = *inputs_[index];
  std::uint32_t result = 0;
  {
    std::lock_guard lock(port.mutex);
    if (port.config.openError != 0) {
      result = port.config.openError;
    } else if (port.open) {
      result = platform::MmSysErrAllocated;
    } else {
      port.open = true;
      port.started = false;
      port.callback = callback;
      port.instance = instance;
      port.inSysEx = false;
      port.status = port.have = port.needed = 0;
      *handle = &port;
    }
  }
  Log(DriverCall::InOpen, index, result, nullptr);
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
    if (!port->open) result = platform::MmSysErrInvalHandle;
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
    if ((header->dwFlags & platform::MhdrInQueue) != 0) result = platform::MidiErrStillPlaying;
    else header->dwFlags &= ~platform::MhdrPrepared;
  }
  if (result == platform::MidiErrStillPlaying) anomalies_.fetch_add(1);
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
    if (!port->open) {
      result = platform::MmSysErrInvalHandle;
    } else if ((header->dwFlags & platform::MhdrInQueue) != 0) {
      result = platform::MidiErrStillPlaying;
      anomalies_.fetch_add(1);
    } else if ((header->dwFlags & platform::MhdrPrepared) == 0) {
      result = platform::MidiErrUnprepared;
    } else if (const std::uint32_t fault = FaultFor(port->addFaults, port->addCalls); fault != 0) {
      result = fault;
    } else {
      header->dwFlags = (header->dwFlags | platform::MhdrInQueue) & ~platform::MhdrDone;
      header->dwBytesRecorded = 0;
      port->queue.Push(header);
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
    port->started = false;
    // A message in progress is returned as far as it came; empty buffers
    // stay queued.
    if (port->queue.head != nullptr && port->queue.head->dwBytesRecorded > 0) {
      HandBack(*port, platform::MimLongData, notices);
    }
    port->inSysEx = false;
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
    port->started = false;
    port->inSysEx = false;
    returned = port->queue;
    port->queue = HeaderQueue{};
    callback = port->callback;
    instance = port->instance;
  }
  port->bufferAdded.notify_all();
  Log(DriverCall::InReset, port->index, 0, nullptr);
  // Every queued buffer goes back marked done, in queue order.
  while (platform::MidiHeader* header = returned.Pop()) {
    header->dwFlags = (header->dwFlags | platform::MhdrDone) & ~platform::MhdrInQueue;
    if (callback != nullptr) {
      callback(port, platform::MimLongData, instance, reinterpret_cast<std::uintptr_t>(header), 0);
    }
  }
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
    if (!port->open) {
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

// --- outputs ---------------------------------------------------------------

std::uint32_t SimMidiDriver::OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                                     platform::MidiCallback callback, std::uintptr_t instance) {
  if (index >= outputs_.size()) return SimErrBadDeviceId;
  OutPort& port = *outputs_[index];
  std::uint32_t result = 0;
  {
    std::lock_guard lock(port.mutex);
    if (port.config.openError != 0) {
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
    if (!port->open) {
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
  {
    std::lock_guard lock(port->mutex);
    if ((header->dwFlags & platform::MhdrInQueue) != 0) {
      result = platform::MidiErrStillPlaying;
      anomalies_.fetch_add(1);
    } else {
      header->dwFlags &= ~platform::MhdrPrepared;
    }
  }
  if (result == 0) MarkGivenBack(header);
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
    if (!port->open) {
      result = platform::MmSysErrInvalHandle;
    } else if ((header->dwFlags & PreparedOrQueued) != platform::MhdrPrepared) {
      result = (header->dwFlags & platform::MhdrInQueue) != 0 ? platform::MidiErrStillPlaying
                                                               : platform::MidiErrUnprepared;
      anomalies_.fetch_add(1);
    } else if (const std::uint32_t fault = FaultFor(port->longFaults, port->longCalls); fault != 0) {
      result = fault;
    } else {
      sequence = port->nextSequence++;
      header->dwFlags = (header->dwFlags | platform::MhdrInQueue) & ~platform::MhdrDone;
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
  if (result == 0) ScheduleCompletion(*port, length, sequence);
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
  while (platform::MidiHeader* header = returned.Pop()) {
    header->dwFlags = (header->dwFlags | platform::MhdrDone) & ~platform::MhdrInQueue;
    if (callback != nullptr) {
      callback(port, platform::MomDone, instance, reinterpret_cast<std::uintptr_t>(header), 0);
    }
  }
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
    if (!port->open) {
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
