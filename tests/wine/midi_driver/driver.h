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
//    DllMain, and live as long as the process: Wine 8 tells a driver nothing
//    at process end (no DRVM_EXIT, no DRV_FREE), and the programs it serves
//    never unload winmm.
//  - The world's behaviours run on the worker too: timed traffic, the
//    unplug once the instrument has heard its N-th message, the replug.
//    Their effects are guarded by `mutex_`.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

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
// Takes a header the host hands over (long message, input buffer): 0 when it
// is usable, prepared and not queued already, and it is now the driver's.
DWORD Enqueue(MIDIHDR* header, DWORD_PTR size);

// A long message on an output's wire, done when its last byte has left.
struct Sending {
  MIDIHDR* header;
  std::vector<std::uint8_t> bytes;
  Clock::time_point done;
};

struct OutPort {
  bool open = false;
  Client client;
  std::deque<Sending> wire;
  Clock::time_point wireFree{};
  bool Busy() const { return !wire.empty(); }
};

struct InPort {
  bool open = false;
  Client client;
  bool started = false;
  std::deque<MIDIHDR*> buffers;      // queued by the host, the first one filling
  std::deque<std::uint8_t> arrived;  // not yet assembled: waiting for the worker or a buffer
  sim::InputAssembly assembly;
  bool Busy() const { return !buffers.empty(); }
};

class Driver {
 public:
  static Driver& Instance();
  DWORD OutMessage(UINT device, UINT message, DWORD_PTR param1, DWORD_PTR param2);
  DWORD InMessage(UINT device, UINT message, DWORD_PTR param1, DWORD_PTR param2);

 private:
  explicit Driver(const Behaviours& behaviours) : behaviours_(behaviours) {}
  DWORD Gone(UINT device);  // what a call on the device answers while it is unplugged, or 0
  template <typename Port>
  DWORD Open(Port& port, DWORD_PTR open, DWORD_PTR flags, UINT notice, bool instrument);
  template <typename Port>
  DWORD Close(Port& port, UINT notice);
  void Work();
  std::optional<Clock::time_point> NextEvent() const;  // with mutex_
  void RunWorld(Notices& notices);                      // with mutex_
  void Unplug(Notices& notices);                        // with mutex_
  std::uint32_t Since() const;                          // ms since the driver began
  void WriteFirmware();

  // driver_output.cpp
  DWORD OutLongMsg(UINT device, MIDIHDR* header, DWORD_PTR size);
  DWORD OutReset(UINT device);
  void Complete(Notices& notices);
  void Deliver(UINT device, std::span<const std::uint8_t> bytes);  // with mutex_
  DWORD BlockingLongMsg(OutPort& port, UINT device, MIDIHDR* header, std::unique_lock<std::mutex>& lock);

  // driver_input.cpp
  DWORD InAddBuffer(UINT device, MIDIHDR* header, DWORD_PTR size);
  DWORD InStartStop(UINT device, UINT message);
  void Arrive(InPort& port, std::span<const std::uint8_t> bytes);
  void Feed(InPort& port, Notices& notices);
  bool Put(InPort& port, std::uint8_t byte, Notices& notices);
  void HandBack(InPort& port, UINT message, Notices& notices);

  const Behaviours& behaviours_;
  const sim::WorldBehaviours& world_ = behaviours_.world;
  const Clock::time_point start_ = Clock::now();
  std::once_flag started_;
  std::recursive_mutex deliver_;  // recursive: a callback may reset its own port
  std::mutex mutex_;              // everything below
  std::condition_variable wake_;
  std::array<OutPort, OutputCount> outputs_;
  std::array<InPort, InputCount> inputs_;
  std::uint32_t longMsgCalls_ = 0;
  std::uint32_t random_ = 0x4B46u;  // longerror's draws
  bool feed_ = false;               // input arrived or a buffer was added
  sim::TrafficSource traffic_{world_.traffic, 0};
  sim::ByteDropper dropper_{world_.dropByte};
  sim::WorldEffects effects_;
  std::uint32_t heardByInstrument_ = 0;  // long messages delivered to it
  bool unplugDue_ = false;
  DWORD gone_ = 0;  // non-zero: the instrument's interface is unplugged, and what it answers
  std::optional<Clock::time_point> replugAt_;
  std::unique_ptr<emulator::RealTimeInstrument> instrument_;
  std::thread worker_;
};

}  // namespace kfmidi
