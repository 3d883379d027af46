// How the simulated driver delivers: completions of sent buffers and bytes
// that devices send to inputs, as events on the virtual clock or on driver
// threads; the settle hook that waits for the dispatcher; and the reassembly
// of sent chunks into SysEx messages for the attached devices.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/sim_ports.h"

namespace sim {
namespace {

// Milliseconds for `bytes` on a wire of `rate` bytes per second, rounded up.
std::uint32_t WireMs(std::uint64_t bytes, std::uint32_t rate) {
  if (rate == 0) return 0;
  return static_cast<std::uint32_t>((bytes * 1000 + rate - 1) / rate);
}

std::uint32_t Later(std::uint32_t a, std::uint32_t b) { return platform::TickDiff(a, b) >= 0 ? a : b; }

}  // namespace

// --- bookkeeping of delivered buffers ----------------------------------------

void SimMidiDriver::MarkDelivered(platform::MidiHeader* header, bool tracked) {
  if (header->dwReserved[SlotDelivery] != NotDelivered) anomalies_.fetch_add(1);
  delivered_.fetch_add(1);
  const bool settle = tracked && virtual_ != nullptr;
  header->dwReserved[SlotDelivery] = settle ? DeliveredTracked : DeliveredUntracked;
  if (settle) {
    std::lock_guard lock(settleMutex_);
    ++outstanding_;
  }
}

void SimMidiDriver::MarkGivenBack(platform::MidiHeader* header) {
  const std::uintptr_t mark = header->dwReserved[SlotDelivery];
  if (mark == NotDelivered) return;
  header->dwReserved[SlotDelivery] = NotDelivered;
  givenBack_.fetch_add(1);
  if (mark == DeliveredTracked) {
    {
      std::lock_guard lock(settleMutex_);
      --outstanding_;
    }
    settled_.notify_all();
  }
}

void SimMidiDriver::Settle() {
  {
    std::unique_lock lock(settleMutex_);
    const auto limit = std::chrono::milliseconds(settleTimeoutMs_);
    if (!settled_.wait_for(lock, limit, [this] { return outstanding_ == 0; })) {
      std::fprintf(stderr,
                   "SimMidiDriver: the dispatcher did not give back %llu buffer(s) within %u ms "
                   "of real time; is the transport running?\n",
                   static_cast<unsigned long long>(outstanding_), settleTimeoutMs_);
      std::abort();
    }
  }
  if (settleFollowUp_) settleFollowUp_();
}

// --- input -----------------------------------------------------------------

namespace {

// When byte `k` (from 0) of the active segment has arrived.
std::uint32_t Arrival(const SimMidiDriver::InPort& port, std::uint32_t k, std::uint32_t rate) {
  return port.segmentStart + WireMs(std::uint64_t{k} + 1, rate);
}

void ActivateNext(SimMidiDriver::InPort& port) {
  port.segmentStart = Later(port.segments.Front().due, port.wireFreeAt);
  port.segmentConsumed = 0;
  port.segmentActive = true;
}

}  // namespace

void SimMidiDriver::Transmit(std::uint32_t input, std::span<const std::uint8_t> bytes, std::uint32_t delayMs) {
  if (virtual_ == nullptr) {
    InjectNow(input, bytes);
    return;
  }
  if (bytes.empty()) return;
  InPort& port = *inputs_.at(input);
  std::uint32_t when = 0;
  bool schedule = false;
  {
    std::lock_guard lock(port.mutex);
    for (const std::uint8_t byte : bytes) port.wire.Push(byte);
    port.segments.Push({clock_.TickCount() + delayMs, static_cast<std::uint32_t>(bytes.size())});
    if (!port.eventPending) {
      if (!port.segmentActive) ActivateNext(port);
      when = Arrival(port, port.segmentConsumed, port.burst ? 0 : inputRate_);
      port.eventPending = true;
      schedule = true;
    }
  }
  if (schedule) ScheduleInput(port, when);
}

void SimMidiDriver::ScheduleInput(InPort& port, std::uint32_t when) {
  InPort* p = &port;
  virtual_->Schedule(when, [p] { p->driver->RunInput(*p); });
}

// One event: delivers every byte that has arrived by now, but stops after a
// buffer went back to the host, so that the settle hook lets the dispatcher
// queue it again before the next byte needs it. An input that takes bursts
// (early-input) gets each one whole and at once, as over USB, and its
// callbacks come once the burst is in: what finds no buffer queued is lost,
// the same on every run.
void SimMidiDriver::RunInput(InPort& port) {
  const std::uint32_t now = clock_.TickCount();
  bool burst = false;
  {
    std::lock_guard lock(port.mutex);
    burst = port.deferring = port.burst;
  }
  for (bool arrived = true; arrived;) {
    std::uint8_t byte = 0;
    {
      std::lock_guard lock(port.mutex);
      arrived = port.segmentActive &&
                platform::TickDiff(Arrival(port, port.segmentConsumed, burst ? 0 : inputRate_), now) <= 0;
      if (!arrived) break;
      byte = port.wire.Pop();
      if (++port.segmentConsumed == port.segments.Front().length) {
        port.segments.Pop();
        port.wireFreeAt = Arrival(port, port.segmentConsumed - 1, burst ? 0 : inputRate_);
        port.segmentActive = false;
        if (!port.segments.Empty()) ActivateNext(port);
      }
    }
    if (Feed(port, byte, false) && !burst) break;
  }
  std::vector<Notice> deferred;
  std::uint32_t when = 0;
  bool more = false;
  {
    std::lock_guard lock(port.mutex);
    port.deferring = false;
    deferred.swap(port.deferred);
    more = port.segmentActive;
    if (more) when = Arrival(port, port.segmentConsumed, burst ? 0 : inputRate_);
    port.eventPending = more;
  }
  for (const Notice& n : deferred) {
    if (n.callback != nullptr) n.callback(n.handle, n.message, n.instance, n.param1, n.param2);
  }
  if (more) ScheduleInput(port, when);  // at once if that byte is already there
}

void SimMidiDriver::InjectNow(std::uint32_t input, std::span<const std::uint8_t> bytes) {
  if (virtual_ != nullptr) {
    Transmit(input, bytes, 0);
    return;
  }
  InPort& port = *inputs_.at(input);
  std::lock_guard inject(port.injectMutex);
  for (const std::uint8_t byte : bytes) Feed(port, byte, true);
}

// --- output ----------------------------------------------------------------

std::uint32_t SimMidiDriver::ScheduleCompletion(OutPort& port, std::uint32_t bytes, std::uint32_t sequence) {
  OutPort* p = &port;
  if (virtual_ != nullptr) {
    std::uint32_t when = 0;
    {
      std::lock_guard lock(port.mutex);
      when = Later(clock_.TickCount(), port.wireFreeAt) + WireMs(bytes, outputRate_);
      port.wireFreeAt = when;
    }
    virtual_->Schedule(when, [p, sequence] { p->driver->CompleteOutput(*p, sequence); });
    return when;
  }
  Worker& worker = *workers_[port.index % workers_.size()];
  {
    std::lock_guard lock(worker.mutex);
    worker.jobs.Push({p, sequence});
  }
  worker.wake.notify_one();
  return clock_.TickCount();
}

void SimMidiDriver::CompleteOutput(OutPort& port, std::uint32_t sequence) {
  std::lock_guard completion(port.completionMutex);
  platform::MidiHeader* header = nullptr;
  platform::MidiCallback callback = nullptr;
  std::uintptr_t instance = 0;
  const std::uint32_t now = clock_.TickCount();
  {
    std::lock_guard lock(port.mutex);
    // A reset has handed this send back already.
    if (port.inFlight.head == nullptr || port.inFlight.head->dwReserved[SlotSequence] != sequence) return;
    header = port.inFlight.Pop();
    MarkDone(header);
    if (const std::uintptr_t traffic = header->dwReserved[SlotTraffic]; traffic != 0) {
      port.sent[traffic - 1].doneAt = now;
      port.sent[traffic - 1].done = true;
    }
    callback = port.callback;
    instance = port.instance;
  }
  std::vector<std::uint8_t> kept;
  Reassemble(port,
             Carried(port, {reinterpret_cast<const std::uint8_t*>(header->lpData), header->dwBufferLength}, kept),
             now);
  MarkDelivered(header, true);
  if (callback != nullptr) {
    callback(&port, platform::MomDone, instance, reinterpret_cast<std::uintptr_t>(header), 0);
  }
  AfterSend(port);
}

void SimMidiDriver::Reassemble(OutPort& port, std::span<const std::uint8_t> bytes, std::uint32_t at) {
  for (const std::uint8_t byte : bytes) {
    if (byte >= FirstRealTime) continue;  // never part of a message
    if (byte == SysExStart) {
      if (port.inMessage) port.discarded += port.message.size();
      port.message.clear();
      port.message.push_back(byte);
      port.inMessage = true;
    } else if (!port.inMessage) {
      ++port.discarded;
    } else if (byte == SysExEnd) {
      port.message.push_back(byte);
      for (MidiEndpoint* endpoint : port.endpoints) endpoint->OnSysEx(port.index, port.message, at);
      port.message.clear();
      port.inMessage = false;
    } else if (byte >= 0x80) {
      port.discarded += port.message.size() + 1;
      port.message.clear();
      port.inMessage = false;
    } else {
      port.message.push_back(byte);
    }
  }
}

void SimMidiDriver::AttachToOutput(std::uint32_t output, MidiEndpoint* endpoint) {
  OutPort& port = *outputs_.at(output);
  std::lock_guard lock(port.completionMutex);
  port.endpoints.push_back(endpoint);
}

void SimMidiDriver::Detach(MidiEndpoint* endpoint) {
  for (const auto& port : outputs_) {
    std::lock_guard lock(port->completionMutex);
    std::erase(port->endpoints, endpoint);
  }
}

// --- driver threads (threaded mode) -----------------------------------------

void SimMidiDriver::StartWorkers(int count) {
  for (int i = 0; i < count; ++i) {
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    workers_.push_back(std::move(worker));
    w->thread = std::thread([this, w] {
      for (;;) {
        Worker::Job job{};
        {
          std::unique_lock lock(w->mutex);
          w->wake.wait(lock, [w] { return w->stop || !w->jobs.Empty(); });
          if (w->jobs.Empty()) return;
          job = w->jobs.Pop();
        }
        CompleteOutput(*job.port, job.sequence);
      }
    });
  }
}

void SimMidiDriver::StopWorkers() {
  for (const auto& worker : workers_) {
    {
      std::lock_guard lock(worker->mutex);
      worker->stop = true;
    }
    worker->wake.notify_all();
  }
  for (const auto& worker : workers_) {
    if (worker->thread.joinable()) worker->thread.join();
  }
  workers_.clear();
}

}  // namespace sim
