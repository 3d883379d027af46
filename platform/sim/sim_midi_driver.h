// A simulated MIDI system behind the driver seam: virtual input and output
// ports that behave the way winmm does, as far as the transport can tell.
//
// Outputs: a long message is taken at once and handed back through the
// callback with MOM_DONE when its bytes have left on the wire (3125 bytes/s by
// default, serialised per port). Virtual devices attached to the output then
// receive what the host sent, reassembled into complete SysEx messages.
//
// Inputs: bytes fill the queued buffers one after the other. A buffer comes
// back (MIM_LONGDATA) at the F7 that ends its message or when its 128 bytes
// are full, so only the first piece of a long message begins with F0. A
// message that is broken off (a new F0 before its F7, or a status byte inside
// it) comes back with MIM_LONGERROR. Short channel messages and real-time
// bytes go to the callback as MIM_DATA and never reach a buffer. Bytes that
// arrive while the port is not started are dropped, as winmm drops them;
// SysEx bytes that find no buffer queued are dropped as well in the virtual
// mode (counted in DroppedBytes; a buffer added in the middle of a message
// takes the rest of it), while in the threaded mode the delivering thread
// waits for a buffer (bounded), so that a stress test loses nothing.
//
// Two ways of running:
//  - virtual: completions and input are events on a VirtualClock. After each
//    event the clock's settle hook waits until the dispatcher has given back
//    every buffer the event handed to a callback (input buffers through
//    InAddBuffer, output buffers through OutUnprepareHeader), so every run of
//    a scenario is the same to the millisecond. A wait longer than the settle
//    timeout (real time) ends the process with a message: a test never hangs.
//  - threaded: outputs complete on driver threads of their own, input is
//    delivered by InjectNow on the caller's thread; callbacks come from
//    several threads at once.
//
// The MIDI world's behaviours (world_behaviours.h) are shown on one pair of
// ports, in the virtual mode: ApplyWorld.
//
// Configure ports (AddInput, AddOutput, faults, rates) before the transport
// uses the driver. The driver keeps its bookkeeping in the headers' reserved
// fields, which belong to the driver while it holds a buffer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/midi_driver.h"
#include "platform/sim/virtual_clock.h"
#include "platform/sim/world_behaviours.h"

namespace sim {

// MMSYSERR_BADDEVICEID: a device index out of range.
inline constexpr std::uint32_t SimErrBadDeviceId = 2;
inline constexpr std::uint32_t MidiWireBytesPerSecond = 3125;

struct SimInputConfig {
  // Up to 31 characters; 32 fill the name without a terminator, as a
  // careless driver might.
  std::string name;
  std::uint16_t wMid = 0;
  std::uint16_t wPid = 0;
  std::uint32_t openError = 0;  // non-zero: InOpen fails with it (4: in use)
  std::uint32_t capsError = 0;  // non-zero: the capability query fails, caps untouched
};

struct SimOutputConfig {
  std::string name;
  std::uint16_t wMid = 0;
  std::uint16_t wPid = 0;
  std::uint16_t wTechnology = 1;  // MOD_MIDIPORT
  std::uint32_t openError = 0;
  std::uint32_t capsError = 0;
};

// Calls number `first` to `first + count - 1` of one operation on one port
// (counted from 1) fail with `code`. Faults given for one operation add up;
// where they overlap, the first one given wins.
struct SimFault {
  std::uint32_t code = 0;
  std::uint32_t first = 0;
  std::uint32_t count = 0;
  bool Hits(std::uint32_t call) const { return code != 0 && call >= first && call - first < count; }
};

// A virtual device attached to one or more outputs.
class MidiEndpoint {
 public:
  virtual ~MidiEndpoint() = default;
  // A complete SysEx message (F0 .. F7) that arrived on `output`; `at` is the
  // clock time its last byte arrived. Runs on the thread that completes
  // output: the sleeping thread in the virtual mode, a driver thread in the
  // threaded mode. The message is valid during the call only.
  virtual void OnSysEx(std::uint32_t output, std::span<const std::uint8_t> message,
                       std::uint32_t at) = 0;
};

// One long message as the host sent it.
struct SentChunk {
  std::uint32_t sentAt = 0;
  std::uint32_t doneAt = 0;  // when MOM_DONE was given
  bool done = false;
  std::vector<std::uint8_t> bytes;
};

enum class DriverCall {
  InOpen, InPrepare, InUnprepare, InAddBuffer, InStart, InStop, InReset, InClose,
  OutOpen, OutPrepare, OutUnprepare, OutLongMsg, OutReset, OutClose,
};

struct DriverCallRecord {
  DriverCall call;
  std::uint32_t port;    // device index
  std::uint32_t result;  // what the call returned
  std::uint32_t at;      // clock time
  const platform::MidiHeader* header;
};

class SimMidiDriver final : public platform::MidiDriver {
 public:
  // Virtual mode: installs itself as the clock's settle hook.
  explicit SimMidiDriver(VirtualClock& clock);
  // Threaded mode: outputs complete on `outputThreads` driver threads (port
  // i on thread i modulo that number). `clock` gives the time stamps.
  SimMidiDriver(platform::Clock& clock, int outputThreads);
  ~SimMidiDriver() override;
  SimMidiDriver(const SimMidiDriver&) = delete;
  SimMidiDriver& operator=(const SimMidiDriver&) = delete;

  // --- configuration (before use) ---------------------------------------
  std::uint32_t AddInput(SimInputConfig config);  // returns the device index
  std::uint32_t AddOutput(SimOutputConfig config);
  void FailOutPrepare(std::uint32_t output, SimFault fault);
  void FailLongMsg(std::uint32_t output, SimFault fault);
  void FailInAddBuffer(std::uint32_t input, SimFault fault);
  // Wire speeds; 0 means at once. Both default to 3125 bytes per second.
  void SetOutputByteRate(std::uint32_t bytesPerSecond);
  void SetInputByteRate(std::uint32_t bytesPerSecond);
  // Whether the settle hook waits for the buffers of this input (default:
  // yes). Off for an input whose buffers are not expected back, e.g. one
  // that a test marks as closing.
  void SetSettleTracking(std::uint32_t input, bool on);
  void SetSettleTimeout(std::uint32_t realMilliseconds);
  std::uint32_t SettleTimeout() const { return settleTimeoutMs_; }
  // A further step of the settle hook, after the buffers have come back: the
  // World uses it to wait until the transport's dispatcher is idle.
  void SetSettleFollowUp(std::function<void()> step);
  void RecordTraffic(bool on);  // Sent(); on by default
  void RecordCalls(bool on);    // Calls(); off by default
  // Shows the behaviours on the instrument's ports from now on: its input
  // and its output (traffic, early-input, split, unplug and replug on the
  // pair, blocking-out on every output). Virtual mode; once, before the
  // transport opens the ports. The quirks only the Wine driver shows
  // (sync-done, notready, longerror) are not shown here: DriverQuirk names
  // them.
  void ApplyWorld(const WorldBehaviours& behaviours, std::uint32_t input, std::uint32_t output);
  // What the behaviours have done so far.
  WorldEffects Effects() const;

  // --- virtual devices ----------------------------------------------------
  void AttachToOutput(std::uint32_t output, MidiEndpoint* endpoint);
  void Detach(MidiEndpoint* endpoint);  // from every output
  // Bytes that a device sends to an input: in the virtual mode they start
  // arriving `delayMs` from now, behind what the input is still receiving;
  // in the threaded mode they are delivered at once (InjectNow).
  void SendToInput(std::uint32_t input, std::span<const std::uint8_t> bytes, std::uint32_t delayMs);
  // Threaded mode: delivers the bytes on the calling thread, waiting for
  // buffers when none is queued. Calls for one input are serialised.
  void InjectNow(std::uint32_t input, std::span<const std::uint8_t> bytes);

  // --- observation ----------------------------------------------------------
  std::vector<SentChunk> Sent(std::uint32_t output) const;
  std::vector<DriverCallRecord> Calls() const;
  std::uint32_t LongMsgCalls(std::uint32_t output) const;
  std::uint32_t OutputsInFlight(std::uint32_t output) const;
  std::uint32_t OutputsInFlight() const;  // all outputs
  std::uint32_t QueuedInputBuffers(std::uint32_t input) const;
  std::uint64_t DroppedBytes(std::uint32_t input) const;
  std::uint64_t DiscardedOutputBytes(std::uint32_t output) const;  // outside a complete message
  bool InputOpen(std::uint32_t input) const;
  bool OutputOpen(std::uint32_t output) const;
  // Buffers handed to a callback by a completion or by input, and buffers
  // the dispatcher gave back (InAddBuffer, OutUnprepareHeader) after that.
  std::uint64_t HeadersDelivered() const { return delivered_.load(); }
  std::uint64_t HeadersGivenBack() const { return givenBack_.load(); }
  // Misuse of the driver protocol: a header added or sent while the driver
  // still has it, unprepared while queued, sent unprepared, delivered twice.
  std::uint64_t Anomalies() const { return anomalies_.load(); }

  // --- platform::MidiDriver -------------------------------------------------
  std::uint32_t InGetNumDevs() override;
  std::uint32_t OutGetNumDevs() override;
  std::uint32_t InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) override;
  std::uint32_t OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) override;
  std::uint32_t InOpen(platform::MidiHandle* handle, std::uint32_t index,
                       platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t InPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InAddBuffer(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t InStart(platform::MidiHandle handle) override;
  std::uint32_t InStop(platform::MidiHandle handle) override;
  std::uint32_t InReset(platform::MidiHandle handle) override;
  std::uint32_t InClose(platform::MidiHandle handle) override;
  std::uint32_t OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                        platform::MidiCallback callback, std::uintptr_t instance) override;
  std::uint32_t OutPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) override;
  std::uint32_t OutReset(platform::MidiHandle handle) override;
  std::uint32_t OutClose(platform::MidiHandle handle) override;

  struct InPort;
  struct OutPort;
  struct Worker;
  struct WorldState;

 private:
  // One callback a port owes, called once the port's lock is released.
  struct Notice {
    platform::MidiCallback callback;
    platform::MidiHandle handle;
    std::uint32_t message;
    std::uintptr_t instance;
    std::uintptr_t param1;
    std::uintptr_t param2;
  };
  struct Notices;

  InPort* FindIn(platform::MidiHandle handle) const;
  OutPort* FindOut(platform::MidiHandle handle) const;
  void Log(DriverCall call, std::uint32_t port, std::uint32_t result, const platform::MidiHeader* header);

  // Input parsing (sim_input_parser.cpp). Feed returns true when a buffer
  // went back to the host.
  bool Feed(InPort& port, std::uint8_t byte, bool waitForBuffer);
  void HandBack(InPort& port, std::uint32_t message, Notices& notices);
  bool Put(InPort& port, std::uint8_t byte, bool waitForBuffer, std::unique_lock<std::mutex>& lock,
           Notices& notices);

  // Delivery (sim_delivery.cpp).
  void Transmit(std::uint32_t input, std::span<const std::uint8_t> bytes, std::uint32_t delayMs);
  void ScheduleInput(InPort& port, std::uint32_t when);
  void RunInput(InPort& port);
  // When the send will be done (virtual mode).
  std::uint32_t ScheduleCompletion(OutPort& port, std::uint32_t bytes, std::uint32_t sequence);
  void CompleteOutput(OutPort& port, std::uint32_t sequence);
  void Reassemble(OutPort& port, std::span<const std::uint8_t> bytes, std::uint32_t at);
  void MarkDelivered(platform::MidiHeader* header, bool tracked);
  void MarkGivenBack(platform::MidiHeader* header);
  void Settle();
  void StartWorkers(int count);
  void StopWorkers();

  // The world's behaviours (sim_world.cpp).
  bool IsWorldInput(const InPort& port) const;
  bool IsWorldOutput(const OutPort& port) const;
  void NoteWorldOpen(bool isWorldPort);
  void RunTraffic();
  // What of a completed send reaches the devices: all of it, or what the
  // byte dropper left in `kept`.
  std::span<const std::uint8_t> Carried(const OutPort& port, std::span<const std::uint8_t> bytes,
                                        std::vector<std::uint8_t>& kept);
  void AfterSend(const OutPort& port);  // counts a completed send; may unplug
  void BlockUntil(std::uint32_t done);  // blocking-out: sleeps until the send is done
  void Unplug();
  void Replug();

  platform::Clock& clock_;
  VirtualClock* virtual_;  // none in the threaded mode
  std::vector<std::unique_ptr<InPort>> inputs_;
  std::vector<std::unique_ptr<OutPort>> outputs_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::uint32_t outputRate_ = MidiWireBytesPerSecond;
  std::uint32_t inputRate_ = MidiWireBytesPerSecond;

  std::mutex settleMutex_;
  std::condition_variable settled_;
  std::uint64_t outstanding_ = 0;  // tracked deliveries not yet given back
  std::uint32_t settleTimeoutMs_ = 10000;
  std::function<void()> settleFollowUp_;

  std::unique_ptr<WorldState> world_;

  std::atomic<bool> recordTraffic_{true};
  std::atomic<bool> recordCalls_{false};
  mutable std::mutex logMutex_;
  std::vector<DriverCallRecord> calls_;

  std::atomic<std::uint64_t> delivered_{0};
  std::atomic<std::uint64_t> givenBack_{0};
  std::atomic<std::uint64_t> anomalies_{0};
};

}  // namespace sim
