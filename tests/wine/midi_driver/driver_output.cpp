// The outputs. A long message goes on its port's wire at the DIN rate,
// behind what the port is still sending; when its last byte has left, the
// worker gives the bytes to what is at the other end (the instrument, the
// loopback input, or nothing for the synth) and hands the header back with
// MOM_DONE. sync-done skips the wire: the bytes arrive and MOM_DONE comes at
// once, inside midiOutLongMsg.
#include "tests/wine/midi_driver/driver.h"

namespace kfmidi {

DWORD Driver::OutLongMsg(UINT device, MIDIHDR* header, DWORD_PTR size) {
  std::unique_lock lock(mutex_);
  if (longMsgCalls_ < behaviours_.notReady) {
    ++longMsgCalls_;
    return MIDIERR_NOTREADY;
  }
  OutPort& port = outputs_[device];
  if (!port.open) return MMSYSERR_INVALHANDLE;
  if (const DWORD refused = Enqueue(header, size)) return refused;
  const std::span message(reinterpret_cast<const std::uint8_t*>(header->lpData), header->dwBufferLength);
  if (!behaviours_.syncDone) {
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
  if (device == InstrumentPort) instrument_->Hear(bytes);
  if (device == LoopbackPort) Arrive(inputs_[LoopbackPort], bytes);
}

}  // namespace kfmidi
