// The driver's state behind modMessage and midMessage: its ports, the worker
// thread that finishes output after the wire time and hands input buffers
// back, and the virtual Tarvonic behind the first port pair.
//
// Locks and threads:
//  - `mutex_` guards every port record and the worker's flags. The worker
//    waits on `wake_` until an output's wire time is up or input has
//    arrived.
//  - Callbacks run outside `mutex_`. The worker, the closes, the resets and
//    MIDM_STOP hold `deliver_` while they call back, so once a close returns
//    no callback for that port is under way or to come. Order: `deliver_`
//    before `mutex_`. Opens and sync-done call back on the calling thread.
//  - The instrument answers on its own pump thread, which takes `mutex_`
//    only; the worker hands it what the host sent under `mutex_` (its inbox
//    has a lock of its own).
//  - The worker and the instrument start with the first open, never in
//    DllMain. The driver object is never destroyed: Wine 8 tells a driver
//    nothing at process end (no DRVM_EXIT, no DRV_FREE; the process ends its
//    threads). DRV_FREE, sent when winmm itself is unloaded, stops both.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "emulator/real_time_instrument.h"
#include "platform/sim/midi_input_assembly.h"
#include "tests/wine/midi_driver/behaviours.h"

namespace kfmidi {

using Clock = std::chrono::steady_clock;

inline constexpr UINT InstrumentPort = 0;  // an input and an output
inline constexpr UINT LoopbackPort = 1;    // an input and an output
inline constexpr UINT InputCount = 2;
inline constexpr UINT OutputCount = 3;     // and a wavetable synth

// Where winmm wants a port's callbacks, as MODM_OPEN / MIDM_OPEN gave it.
struct Client {
  DWORD_PTR callback = 0;
  DWORD flags = 0;
  HDRVR handle = nullptr;
  DWORD_PTR instance = 0;
};

struct Notice {
  Client client;
  UINT message;
  DWORD_PTR param1 = 0;
  DWORD_PTR param2 = 0;
};
using Notices = std::vector<Notice>;
void Send(const Notices& notices);

inline void MarkDone(MIDIHDR* header) { header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE; }
// A header the driver can use: its fields up to dwFlags given, a buffer.
bool Usable(const MIDIHDR* header, DWORD_PTR size);
// Takes a header the host hands over (long message, input buffer): 0 when it
// is usable, prepared and not queued already, and it is now the driver's.
DWORD Enqueue(MIDIHDR* header, DWORD_PTR size);

// A message on an output's wire, done when its last byte has left.
struct Sending {
  MIDIHDR* header;  // none for a short message
  std::vector<std::uint8_t> bytes;
  Clock::time_point done;
};

struct OutPort {
  bool open = false;
  Client client;
  std::deque<Sending> wire;
  Clock::time_point wireFree{};
  bool Busy() const {
    return std::any_of(wire.begin(), wire.end(), [](const Sending& s) { return s.header != nullptr; });
  }
};

struct InPort {
  bool open = false;
  Client client;
  bool started = false;
  Clock::time_point startedAt{};
  std::deque<MIDIHDR*> buffers;      // queued by the host, the first one filling
  std::deque<std::uint8_t> arrived;  // not yet parsed: waiting for the worker or a buffer
  sim::InputAssembly assembly;
  bool Busy() const { return !buffers.empty(); }
};

class Driver {
 public:
  static Driver& Instance();
  DWORD OutMessage(UINT device, UINT message, DWORD_PTR param1, DWORD_PTR param2);
  DWORD InMessage(UINT device, UINT message, DWORD_PTR param1, DWORD_PTR param2);
  void Unload();

 private:
  explicit Driver(const Behaviours& behaviours) : behaviours_(behaviours) {}
  template <typename Port>
  DWORD Open(Port& port, DWORD_PTR open, DWORD_PTR flags, UINT notice);
  template <typename Port>
  DWORD Close(Port& port, UINT notice);
  DWORD Prepare(MIDIHDR* header, DWORD_PTR size, bool prepare);
  void Work();
  std::optional<Clock::time_point> NextDone() const;
  void WriteFirmware(const emulator::RealTimeInstrument& instrument) const;

  // driver_output.cpp
  DWORD OutLongMsg(UINT device, MIDIHDR* header, DWORD_PTR size);
  DWORD Transmit(std::unique_lock<std::mutex>& lock, UINT device, MIDIHDR* header,
                 std::span<const std::uint8_t> bytes);
  DWORD OutReset(UINT device);
  void Complete(Notices& notices);
  void Deliver(UINT device, std::span<const std::uint8_t> bytes);

  // driver_input.cpp
  DWORD InAddBuffer(UINT device, MIDIHDR* header, DWORD_PTR size);
  DWORD InStartStop(UINT device, UINT message);
  void Arrive(InPort& port, std::span<const std::uint8_t> bytes);
  void Feed(InPort& port, Notices& notices);
  bool Put(InPort& port, std::uint8_t byte, Notices& notices);
  void HandBack(InPort& port, UINT message, Notices& notices);
  bool LongErrorDrawn();

  const Behaviours& behaviours_;
  std::once_flag started_;
  std::recursive_mutex deliver_;  // recursive: a callback may reset its own port
  std::mutex mutex_;              // everything below
  std::condition_variable wake_;
  std::array<OutPort, OutputCount> outputs_;
  std::array<InPort, InputCount> inputs_;
  std::uint32_t longMsgCalls_ = 0;
  std::uint32_t random_ = 0x4B46u;  // longerror's draws: the same on every run
  bool feed_ = false;               // input arrived or a buffer was added
  bool stop_ = false;
  std::unique_ptr<emulator::RealTimeInstrument> instrument_;
  std::thread worker_;
};

}  // namespace kfmidi
