// The inputs. What arrives on a started port is assembled the way winmm
// drivers do (platform/sim/midi_input_assembly.h): SysEx fills the queued
// buffers, each handed back with MIM_LONGDATA at the F7 that ends its
// message or when full (with split=N, after at most N bytes; with
// longerror=P, as MIM_LONGERROR at random). What arrives on a port that is
// not started is dropped; bytes that find no buffer queued wait for the next
// (with early-input they are lost).
// The programs read no time stamps: the callbacks carry none.
#include "tests/wine/midi_driver/driver.h"

namespace kfmidi {
namespace {

constexpr std::size_t MaxWaiting = 1u << 16;  // bytes held for a buffer; more are lost

}  // namespace

DWORD Driver::InAddBuffer(UINT device, MIDIHDR* header, DWORD_PTR size) {
  std::lock_guard lock(mutex_);
  InPort& port = inputs_[device];
  if (!port.open) return MMSYSERR_INVALHANDLE;
  if (const DWORD refused = Enqueue(header, size)) return refused;
  header->dwBytesRecorded = 0;
  port.buffers.push_back(header);
  feed_ = true;
  wake_.notify_one();
  return MMSYSERR_NOERROR;
}

// MIDM_START, MIDM_STOP (a buffer partly filled comes back with what it
// holds) and MIDM_RESET (every buffer comes back, empty).
DWORD Driver::InStartStop(UINT device, UINT message) {
  std::lock_guard deliver(deliver_);
  Notices notices;
  {
    std::lock_guard lock(mutex_);
    InPort& port = inputs_[device];
    if (!port.open) return MMSYSERR_INVALHANDLE;
    if (message == MIDM_START) {
      port.started = feed_ = true;
      wake_.notify_one();
    } else {
      port.started = false;
      port.assembly = {};
      port.arrived.clear();
      if (message == MIDM_STOP && !port.buffers.empty() && port.buffers.front()->dwBytesRecorded > 0)
        HandBack(port, MIM_LONGDATA, notices);
      while (message == MIDM_RESET && !port.buffers.empty()) {
        port.buffers.front()->dwBytesRecorded = 0;
        HandBack(port, MIM_LONGDATA, notices);
      }
    }
  }
  Send(notices);
  return MMSYSERR_NOERROR;
}

// With mutex_ held.
void Driver::Arrive(InPort& port, std::span<const std::uint8_t> bytes) {
  if (!port.open || !port.started) return;
  const std::size_t room = MaxWaiting - std::min(MaxWaiting, port.arrived.size());
  port.arrived.insert(port.arrived.end(), bytes.begin(), bytes.begin() + std::min(room, bytes.size()));
  feed_ = true;
  wake_.notify_one();
}

void Driver::Feed(InPort& port, Notices& notices) {
  struct Sink {
    Driver& driver;
    InPort& port;
    Notices& notices;
    void Short(DWORD_PTR packed) { notices.push_back({port.client, MIM_DATA, packed}); }
    void Broken() {
      if (!port.buffers.empty() && port.buffers.front()->dwBytesRecorded > 0)
        driver.HandBack(port, MIM_LONGERROR, notices);
    }
    bool SysEx(std::uint8_t byte) {
      if (driver.Put(port, byte, notices)) return true;
      if (!driver.world_.earlyInput) return false;  // it waits for a buffer
      ++driver.effects_.inputLost;
      return true;
    }
    void Stray() {}
  } sink{*this, port, notices};
  while (port.started && !port.arrived.empty() && sim::AssembleInput(port.assembly, port.arrived.front(), sink))
    port.arrived.pop_front();
}

bool Driver::Put(InPort& port, std::uint8_t byte, Notices& notices) {
  if (port.buffers.empty()) return false;
  MIDIHDR* header = port.buffers.front();
  header->lpData[header->dwBytesRecorded++] = static_cast<char>(byte);
  const bool piece = world_.split != 0 && header->dwBytesRecorded >= world_.split;
  if (byte != sim::SysExEnd && !piece && header->dwBytesRecorded < header->dwBufferLength) return true;
  random_ ^= random_ << 13;  // xorshift32: the same draws on every run
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  HandBack(port, random_ < world_.longError * 4294967296.0 ? MIM_LONGERROR : MIM_LONGDATA, notices);
  return true;
}

void Driver::HandBack(InPort& port, UINT message, Notices& notices) {
  MIDIHDR* header = port.buffers.front();
  port.buffers.pop_front();
  MarkDone(header);
  notices.push_back({port.client, message, reinterpret_cast<DWORD_PTR>(header)});
}

}  // namespace kfmidi
