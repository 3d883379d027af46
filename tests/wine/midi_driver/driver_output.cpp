// The outputs. A long message goes on its port's wire at the DIN rate,
// behind what the port is still sending; when its last byte has left, the
// worker gives the bytes to what is at the other end (the instrument, the
// loopback input, or nothing for the synth) and hands the header back with
// MOM_DONE. sync-done skips the wire: the bytes arrive and MOM_DONE comes at
// once, inside midiOutLongMsg. blocking-out waits out the wire time inside
// midiOutLongMsg, then delivers and gives MOM_DONE before it returns. On the
// way to the instrument drop-byte loses bytes, and its N-th message heard
// sets off unplug.
#include "tests/wine/midi_driver/driver.h"

namespace kfmidi {

DWORD Driver::OutLongMsg(UINT device, MIDIHDR* header, DWORD_PTR size) {
  std::unique_lock lock(mutex_);
  if (longMsgCalls_ < world_.notReady) {
    ++longMsgCalls_;
    return MIDIERR_NOTREADY;
  }
  OutPort& port = outputs_[device];
  if (!port.open) return MMSYSERR_INVALHANDLE;
  if (const DWORD refused = Enqueue(header, size)) return refused;
  const std::span message(reinterpret_cast<const std::uint8_t*>(header->lpData), header->dwBufferLength);
  if (world_.blockingOut) return BlockingLongMsg(port, device, header, lock);
  if (!world_.syncDone) {
    const auto wireTime = std::chrono::microseconds(message.size() * 1'000'000 / sim::MidiWireBytesPerSecond);
    port.wireFree = std::max(Clock::now(), port.wireFree) + wireTime;
    port.wire.push_back({header, {message.begin(), message.end()}, port.wireFree});
    wake_.notify_one();
    return MMSYSERR_NOERROR;
  }
  Deliver(device, message);
  const Client client = port.client;
  lock.unlock();
  MarkDone(header);
  Send({{client, MOM_DONE, reinterpret_cast<DWORD_PTR>(header)}});
  return MMSYSERR_NOERROR;
}

DWORD Driver::BlockingLongMsg(OutPort& port, UINT device, MIDIHDR* header, std::unique_lock<std::mutex>& lock) {
  const std::vector<std::uint8_t> message(header->lpData, header->lpData + header->dwBufferLength);
  const auto wireTime = std::chrono::microseconds(message.size() * 1'000'000 / sim::MidiWireBytesPerSecond);
  const auto began = Clock::now();
  port.wireFree = std::max(began, port.wireFree) + wireTime;
  const Clock::time_point done = port.wireFree;
  const Client client = port.client;
  lock.unlock();
  std::this_thread::sleep_until(done);
  lock.lock();
  ++effects_.blockedSends;
  effects_.blockedMs += static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count());
  if (port.open) Deliver(device, message);  // an unplug meanwhile: it never arrives
  lock.unlock();
  MarkDone(header);
  Send({{client, MOM_DONE, reinterpret_cast<DWORD_PTR>(header)}});
  return MMSYSERR_NOERROR;
}

DWORD Driver::OutReset(UINT device) {
  std::lock_guard deliver(deliver_);
  Notices notices;
  {
    std::lock_guard lock(mutex_);
    OutPort& port = outputs_[device];
    for (const Sending& sending : port.wire) {
      MarkDone(sending.header);
      notices.push_back({port.client, MOM_DONE, reinterpret_cast<DWORD_PTR>(sending.header)});
    }
    port.wire.clear();
    port.wireFree = Clock::now();
  }
  Send(notices);
  return MMSYSERR_NOERROR;
}

// With mutex_ held: what has left on the wires, and where it leads.
void Driver::Complete(Notices& notices) {
  const auto now = Clock::now();
  for (UINT device = 0; device < OutputCount; ++device) {
    OutPort& port = outputs_[device];
    while (!port.wire.empty() && port.wire.front().done <= now) {
      const Sending sent = std::move(port.wire.front());
      port.wire.pop_front();
      Deliver(device, sent.bytes);
      MarkDone(sent.header);
      notices.push_back({port.client, MOM_DONE, reinterpret_cast<DWORD_PTR>(sent.header)});
    }
  }
}

void Driver::Deliver(UINT device, std::span<const std::uint8_t> bytes) {
  if (device == LoopbackPort) Arrive(inputs_[LoopbackPort], bytes);
  if (device != InstrumentPort) return;
  std::vector<std::uint8_t> kept;
  for (const std::uint8_t byte : bytes) {
    if (dropper_.Drops()) {
      ++effects_.dropped;
    } else {
      kept.push_back(byte);
    }
  }
  instrument_->Hear(kept);
  if (world_.unplugAfter != 0 && ++heardByInstrument_ == world_.unplugAfter) {
    unplugDue_ = true;
    wake_.notify_one();
  }
}

}  // namespace kfmidi
