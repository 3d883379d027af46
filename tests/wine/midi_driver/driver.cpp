// The driver's ports and life: the port table, the message dispatch, opening
// and closing, the worker thread, and the firmware the instrument leaves.
#include "tests/wine/midi_driver/driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>

// winmm exports it for drivers; mingw-w64's headers do not declare it.
extern "C" BOOL WINAPI DriverCallback(DWORD_PTR callback, DWORD flags, HDRVR device, DWORD message,
                                      DWORD_PTR user, DWORD_PTR param1, DWORD_PTR param2);

namespace kfmidi {
namespace {

// Made-up makers and products, one maker per interface.
struct PortCaps {
  const wchar_t* name;
  WORD mid, pid, technology;
};
constexpr PortCaps Inputs[InputCount] = {{L"MIDI Interface A In", 0x7A01, 0x0011, 0},
                                         {L"Loopback MIDI In", 0x7A02, 0x0021, 0}};
constexpr PortCaps Outputs[OutputCount] = {{L"MIDI Interface A Out", 0x7A01, 0x0012, MOD_MIDIPORT},
                                           {L"Loopback MIDI Out", 0x7A02, 0x0022, MOD_MIDIPORT},
                                           {L"Wavetable Synth A", 0x7A03, 0x0031, MOD_WAVETABLE}};

template <typename Caps>
DWORD Describe(const PortCaps& port, DWORD_PTR to, DWORD_PTR size) {
  if (to == 0) return MMSYSERR_INVALPARAM;
  Caps caps{};
  caps.wMid = port.mid;
  caps.wPid = port.pid;
  lstrcpynW(caps.szPname, port.name, MAXPNAMELEN);
  if constexpr (std::is_same_v<Caps, MIDIOUTCAPSW>) caps.wTechnology = port.technology;
  std::memcpy(reinterpret_cast<void*>(to), &caps, std::min<DWORD_PTR>(size, sizeof caps));
  return MMSYSERR_NOERROR;
}

// A header the driver can use: its fields up to dwFlags given, a buffer.
bool Usable(const MIDIHDR* header, DWORD_PTR size) {
  return header != nullptr && size >= offsetof(MIDIHDR, lpNext) && header->lpData != nullptr &&
         header->dwBufferLength > 0;
}

// Wine 8's winmm passes MMSYSERR_NOTSUPPORTED on to the program rather than
// preparing the header itself, so the driver prepares.
DWORD Prepare(MIDIHDR* header, DWORD_PTR size, bool prepare) {
  if (!Usable(header, size)) return MMSYSERR_INVALPARAM;
  if (!prepare && (header->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
  header->dwFlags = prepare ? header->dwFlags | MHDR_PREPARED : header->dwFlags & ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

}  // namespace

void Send(const Notices& notices) {
  for (const Notice& n : notices) {
    DriverCallback(n.client.callback, HIWORD(n.client.flags), n.client.handle, n.message, n.client.instance,
                   n.param1, n.param2);
  }
}

DWORD Enqueue(MIDIHDR* header, DWORD_PTR size) {
  if (!Usable(header, size)) return MMSYSERR_INVALPARAM;
  if ((header->dwFlags & MHDR_PREPARED) == 0) return MIDIERR_UNPREPARED;
  if ((header->dwFlags & MHDR_INQUEUE) != 0) return MIDIERR_STILLPLAYING;
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  return MMSYSERR_NOERROR;
}

Driver& Driver::Instance() {
  static Driver* const driver = new Driver(ProcessBehaviours());  // never destroyed: see driver.h
  return *driver;
}

DWORD Driver::OutMessage(UINT device, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
  if (message == MODM_GETNUMDEVS) return behaviours_.refusal.empty() ? OutputCount : 0;
  if (message >= DRVM_INIT && message <= DRVM_ENABLE) return MMSYSERR_NOERROR;  // init, exit, disable, enable
  if (device >= OutputCount) return MMSYSERR_BADDEVICEID;
  // Wine gives a driver no word at process end: a close of the instrument's
  // output (the program's last, or the one of a port that was unplugged) may
  // be the last word.
  if (message == MODM_CLOSE && device == InstrumentPort) WriteFirmware();
  if (const DWORD gone = Gone(device)) return gone;
  auto* header = reinterpret_cast<MIDIHDR*>(param1);
  switch (message) {
    case MODM_GETDEVCAPS: return Describe<MIDIOUTCAPSW>(Outputs[device], param1, param2);
    case MODM_OPEN: return Open(outputs_[device], param1, param2, MOM_OPEN, device == InstrumentPort);
    case MODM_CLOSE: return Close(outputs_[device], MOM_CLOSE);
    case MODM_PREPARE:
    case MODM_UNPREPARE: {
      std::lock_guard lock(mutex_);
      return Prepare(header, param2, message == MODM_PREPARE);
    }
    case MODM_LONGDATA: return OutLongMsg(device, header, param2);
    case MODM_RESET: return OutReset(device);
    default: return MMSYSERR_NOTSUPPORTED;  // short messages among them: the programs send none
  }
}

DWORD Driver::InMessage(UINT device, UINT message, DWORD_PTR param1, DWORD_PTR param2) {
  if (message == MIDM_GETNUMDEVS) return behaviours_.refusal.empty() ? InputCount : 0;
  if (message >= DRVM_INIT && message <= DRVM_ENABLE) return MMSYSERR_NOERROR;  // init, exit, disable, enable
  if (device >= InputCount) return MMSYSERR_BADDEVICEID;
  if (const DWORD gone = Gone(device)) return gone;
  auto* header = reinterpret_cast<MIDIHDR*>(param1);
  switch (message) {
    case MIDM_GETDEVCAPS: return Describe<MIDIINCAPSW>(Inputs[device], param1, param2);
    case MIDM_OPEN:
      if (device == InstrumentPort && world_.busyIn) return MMSYSERR_ALLOCATED;
      return Open(inputs_[device], param1, param2, MIM_OPEN, device == InstrumentPort);
    case MIDM_CLOSE: return Close(inputs_[device], MIM_CLOSE);
    case MIDM_PREPARE:
    case MIDM_UNPREPARE: {
      std::lock_guard lock(mutex_);
      return Prepare(header, param2, message == MIDM_PREPARE);
    }
    case MIDM_ADDBUFFER: return InAddBuffer(device, header, param2);
    case MIDM_START:
    case MIDM_STOP:
    case MIDM_RESET: return InStartStop(device, message);
    default: return MMSYSERR_NOTSUPPORTED;
  }
}

// The open and close notices come on the calling thread, as they do from
// most drivers.
DWORD Driver::Gone(UINT device) {
  std::lock_guard lock(mutex_);
  return device == InstrumentPort ? gone_ : 0;
}

template <typename Port>
DWORD Driver::Open(Port& port, DWORD_PTR open, DWORD_PTR flags, UINT notice, bool instrument) {
  const auto* desc = reinterpret_cast<const MIDIOPENDESC*>(open);
  if (desc == nullptr) return MMSYSERR_INVALPARAM;
  std::call_once(started_, [this] {
    emulator::InstrumentSetup setup{.faults = behaviours_.faults, .answer = {}, .heard = {}};
    // What the instrument sends reaches the input with the other program's
    // traffic merged in.
    setup.answer = [this, merged = std::vector<std::uint8_t>()](std::span<const std::uint8_t> message,
                                                                 std::uint32_t) mutable {
      std::lock_guard lock(mutex_);
      merged.clear();
      traffic_.Merge(message, merged, effects_);
      Arrive(inputs_[InstrumentPort], merged);
    };
    instrument_ = std::make_unique<emulator::RealTimeInstrument>(std::move(setup));
    worker_ = std::thread(&Driver::Work, this);
  });
  const Client client{desc->dwCallback, static_cast<DWORD>(flags), reinterpret_cast<HDRVR>(desc->hMidi),
                      desc->dwInstance};
  {
    std::lock_guard lock(mutex_);
    if (port.open) return MMSYSERR_ALLOCATED;
    port = Port{};
    port.open = true;
    port.client = client;
    if (instrument && world_.shared) ++effects_.opens;
  }
  Send({{client, notice}});
  return MMSYSERR_NOERROR;
}

template <typename Port>
DWORD Driver::Close(Port& port, UINT notice) {
  std::lock_guard deliver(deliver_);
  Client client;
  {
    std::lock_guard lock(mutex_);
    if (!port.open) return MMSYSERR_INVALHANDLE;
    if (port.Busy()) return MIDIERR_STILLPLAYING;
    client = port.client;
    port = Port{};
  }
  Send({{client, notice}});
  return MMSYSERR_NOERROR;
}

std::uint32_t Driver::Since() const {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
}

std::optional<Clock::time_point> Driver::NextEvent() const {
  std::optional<Clock::time_point> next;
  const auto sooner = [&next](Clock::time_point at) {
    if (!next || at < *next) next = at;
  };
  for (const OutPort& port : outputs_) {
    if (!port.wire.empty()) sooner(port.wire.front().done);
  }
  if (traffic_.Active()) sooner(start_ + std::chrono::milliseconds(traffic_.NextDue()));
  if (replugAt_) sooner(*replugAt_);
  if (unplugDue_) sooner(Clock::now());
  return next;
}

void Driver::RunWorld(Notices& notices) {
  if (traffic_.Active()) {
    std::vector<std::uint8_t> due;
    traffic_.TakeDue(Since(), due, effects_);
    Arrive(inputs_[InstrumentPort], due);
  }
  if (unplugDue_) Unplug(notices);
  if (replugAt_ && *replugAt_ <= Clock::now()) {
    gone_ = 0;
    replugAt_.reset();
    effects_.repluggedAtMs = Since();
  }
}

// The instrument's interface goes: its queued input buffers come back empty,
// its sends in flight come back done without reaching it, and both ports'
// clients hear that they are closed.
void Driver::Unplug(Notices& notices) {
  unplugDue_ = false;
  gone_ = world_.GoneError();
  effects_.unpluggedAtMs = Since();
  if (world_.replugSeconds) replugAt_ = Clock::now() + std::chrono::seconds(*world_.replugSeconds);
  InPort& in = inputs_[InstrumentPort];
  while (!in.buffers.empty()) {
    in.buffers.front()->dwBytesRecorded = 0;
    HandBack(in, MIM_LONGDATA, notices);
  }
  OutPort& out = outputs_[InstrumentPort];
  for (const Sending& sending : out.wire) {
    MarkDone(sending.header);
    notices.push_back({out.client, MOM_DONE, reinterpret_cast<DWORD_PTR>(sending.header)});
  }
  if (in.open) notices.push_back({in.client, MIM_CLOSE});
  if (out.open) notices.push_back({out.client, MOM_CLOSE});
  in = InPort{};
  out = OutPort{};
}

void Driver::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // Every change of the ports notifies: wake, then look again.
    const std::optional<Clock::time_point> next = NextEvent();
    if (!feed_ && !(next && *next <= Clock::now())) {
      if (next) {
        wake_.wait_until(lock, *next);
      } else {
        wake_.wait(lock);
      }
      continue;
    }
    lock.unlock();
    std::lock_guard deliver(deliver_);
    Notices notices;
    lock.lock();
    Complete(notices);
    RunWorld(notices);
    feed_ = false;
    for (InPort& port : inputs_) Feed(port, notices);
    lock.unlock();
    Send(notices);
    lock.lock();
  }
}

void Driver::WriteFirmware() {
  {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "winekfmidi: world: %s\n", sim::DescribeWorld(world_, effects_).c_str());
  }
  if (behaviours_.firmware.empty() || !instrument_) return;
  const std::vector<std::uint8_t> firmware = instrument_->Firmware();
  const emulator::TarvonicStats stats = instrument_->Stats();
  std::ofstream out(behaviours_.firmware, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(firmware.data()), static_cast<std::streamsize>(firmware.size()));
  std::fprintf(stderr,
               "winekfmidi: instrument heard %llu messages (%u packets, %u accepted, %u resynchronisations); "
               "%zu bytes of firmware %s %s\n",
               static_cast<unsigned long long>(instrument_->MessagesHeard()), stats.packets, stats.accepted,
               stats.resyncsAnswered, firmware.size(), out ? "written to" : "could not be written to",
               behaviours_.firmware.c_str());
}

}  // namespace kfmidi
