// The MIDI world's behaviours in the simulated driver (world_behaviours.h):
// another program's traffic as events on the virtual clock and merged into
// what the instrument sends, bytes dropped on the way to the instrument,
// sends that block for their wire time, input in pieces, and the instrument's
// interface unplugged and plugged back in. The virtual mode drops SysEx bytes
// that find no buffer queued anyway; early input comes in bursts, as over
// USB, so that the dispatcher has no time to queue a buffer again between
// the pieces of one.
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/sim_ports.h"

namespace sim {

void SimMidiDriver::ApplyWorld(const WorldBehaviours& behaviours, std::uint32_t input, std::uint32_t output) {
  world_ = std::make_unique<WorldState>();
  WorldState& w = *world_;
  w.behaviours = behaviours;
  w.input = input;
  w.output = output;
  w.startMs = clock_.TickCount();
  w.traffic = TrafficSource(behaviours.traffic, w.startMs);
  w.dropper.every = behaviours.dropByte;
  InPort& in = *inputs_.at(input);
  if (behaviours.busyIn) in.config.openError = platform::MmSysErrAllocated;
  {
    std::lock_guard lock(in.mutex);
    in.split = behaviours.split;
    in.burst = behaviours.earlyInput;
  }
  if (w.traffic.Active() && virtual_ != nullptr) {
    virtual_->Schedule(w.traffic.NextDue(), [this] { RunTraffic(); });
  }
}

WorldEffects SimMidiDriver::Effects() const {
  if (!world_) return {};
  WorldEffects effects;
  {
    std::lock_guard lock(world_->mutex);
    effects = world_->effects;
  }
  effects.inputLost = DroppedBytes(world_->input);
  return effects;
}

bool SimMidiDriver::IsWorldInput(const InPort& port) const { return world_ && port.index == world_->input; }
bool SimMidiDriver::IsWorldOutput(const OutPort& port) const { return world_ && port.index == world_->output; }

void SimMidiDriver::NoteWorldOpen(bool isWorldPort) {
  if (!isWorldPort || !world_->behaviours.shared) return;
  std::lock_guard lock(world_->mutex);
  ++world_->effects.opens;
}

void SimMidiDriver::SendToInput(std::uint32_t input, std::span<const std::uint8_t> bytes, std::uint32_t delayMs) {
  if (!world_ || input != world_->input || !world_->traffic.Active()) {
    Transmit(input, bytes, delayMs);
    return;
  }
  std::vector<std::uint8_t> merged;
  {
    std::lock_guard lock(world_->mutex);
    world_->traffic.Merge(bytes, merged, world_->effects);
  }
  Transmit(input, merged, delayMs);
}

void SimMidiDriver::RunTraffic() {
  std::vector<std::uint8_t> bytes;
  std::uint32_t next = 0;
  {
    std::lock_guard lock(world_->mutex);
    world_->traffic.TakeDue(clock_.TickCount(), bytes, world_->effects);
    next = world_->traffic.NextDue();
  }
  Transmit(world_->input, bytes, 0);
  virtual_->Schedule(next, [this] { RunTraffic(); });
}

std::span<const std::uint8_t> SimMidiDriver::Carried(const OutPort& port, std::span<const std::uint8_t> bytes,
                                                     std::vector<std::uint8_t>& kept) {
  if (!IsWorldOutput(port) || world_->behaviours.dropByte == 0) return bytes;
  std::lock_guard lock(world_->mutex);
  for (const std::uint8_t byte : bytes) {
    if (world_->dropper.Drops()) {
      ++world_->effects.dropped;
    } else {
      kept.push_back(byte);
    }
  }
  return kept;
}

void SimMidiDriver::AfterSend(const OutPort& port) {
  if (!IsWorldOutput(port)) return;
  {
    std::lock_guard lock(world_->mutex);
    if (world_->behaviours.unplugAfter == 0 || ++world_->sent != world_->behaviours.unplugAfter) return;
  }
  Unplug();
}

void SimMidiDriver::BlockUntil(std::uint32_t done) {
  if (!world_ || !world_->behaviours.blockingOut || virtual_ == nullptr) return;
  const std::uint32_t wait = static_cast<std::uint32_t>(std::max(0, platform::TickDiff(done, clock_.TickCount())));
  // Sleeping on the virtual clock runs the send's completion: MOM_DONE
  // comes before the send returns.
  virtual_->Sleep(wait);
  std::lock_guard lock(world_->mutex);
  ++world_->effects.blockedSends;
  world_->effects.blockedMs += wait;
}

// Called while the output completes (its completion lock held).
void SimMidiDriver::Unplug() {
  const std::uint32_t code = world_->behaviours.GoneError();
  InPort& in = *inputs_[world_->input];
  OutPort& out = *outputs_[world_->output];
  HeaderQueue buffers;
  HeaderQueue sends;
  Notice inClose{};
  Notice outClose{};
  {
    std::lock_guard lock(in.mutex);
    in.gone = code;
    buffers = in.queue;
    in.queue = HeaderQueue{};
    if (in.open) inClose = {in.callback, &in, platform::MimClose, in.instance, 0, 0};
    in.open = in.started = false;
    in.callback = nullptr;
  }
  in.bufferAdded.notify_all();
  {
    std::lock_guard lock(out.mutex);
    out.gone = code;
    sends = out.inFlight;
    out.inFlight = HeaderQueue{};
    if (out.open) outClose = {out.callback, &out, platform::MomClose, out.instance, 0, 0};
    out.open = false;
    out.callback = nullptr;
  }
  // The queued input buffers come back empty; sends in flight come back
  // done, never having reached the instrument.
  while (platform::MidiHeader* header = buffers.Pop()) {
    header->dwBytesRecorded = 0;
    MarkDone(header);
    MarkDelivered(header, in.tracked);
    if (inClose.callback != nullptr) {
      inClose.callback(&in, platform::MimLongData, inClose.instance, reinterpret_cast<std::uintptr_t>(header), 0);
    }
  }
  sends.HandBackAll(outClose.callback, &out, platform::MomDone, outClose.instance);
  for (const Notice& close : {inClose, outClose}) {
    if (close.callback != nullptr) close.callback(close.handle, close.message, close.instance, 0, 0);
  }
  std::lock_guard lock(world_->mutex);
  world_->effects.unpluggedAtMs = clock_.TickCount() - world_->startMs;
  if (world_->behaviours.replugSeconds && virtual_ != nullptr) {
    virtual_->ScheduleAfter(*world_->behaviours.replugSeconds * 1000, [this] { Replug(); });
  }
}

void SimMidiDriver::Replug() {
  {
    InPort& in = *inputs_[world_->input];
    std::lock_guard lock(in.mutex);
    in.gone = 0;
  }
  {
    OutPort& out = *outputs_[world_->output];
    std::lock_guard lock(out.mutex);
    out.gone = 0;
  }
  std::lock_guard lock(world_->mutex);
  world_->effects.repluggedAtMs = clock_.TickCount() - world_->startMs;
}

}  // namespace sim
