// The simulated driver: construction, the configuration and observation that
// tests use, and enumeration. The port operations, input parsing and
// delivery live in files of their own.
#include "platform/sim/sim_midi_driver.h"

#include <algorithm>
#include <cstring>

#include "platform/sim/sim_ports.h"

namespace sim {
namespace {

constexpr std::uint32_t SimDriverVersion = 0x0100;

template <typename Caps>
void FillCommonCaps(Caps* caps, const std::string& name, std::uint16_t mid, std::uint16_t pid) {
  caps->wMid = mid;
  caps->wPid = pid;
  caps->vDriverVersion = SimDriverVersion;
  // All 32 bytes when the name is that long, with no NUL, as a careless
  // driver may fill them: the port registry must cope (the real drivers'
  // names go through platform::CopyPortName).
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
  {
    std::lock_guard lock(inputs_[index]->mutex);
    if (inputs_[index]->gone != 0) return inputs_[index]->gone;
  }
  const SimInputConfig& config = inputs_[index]->config;
  if (config.capsError != 0) return config.capsError;
  FillCommonCaps(caps, config.name, config.wMid, config.wPid);
  caps->dwSupport = 0;
  return 0;
}

std::uint32_t SimMidiDriver::OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) {
  if (index >= outputs_.size()) return SimErrBadDeviceId;
  {
    std::lock_guard lock(outputs_[index]->mutex);
    if (outputs_[index]->gone != 0) return outputs_[index]->gone;
  }
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

}  // namespace sim
