// What every part of the MIDI transport shares: the port record and the list
// of opened ports, the two locks, the dispatcher's wake event and stop flag,
// and the dispatch queue through which the driver's callbacks hand finished
// buffers to the dispatcher thread.
//
// Sharing rules. PortList and the port fields belong to the user-interface
// thread, except that the dispatcher reads `flags`, `handle` and `listeners`
// of the port a buffer names. `listeners` is guarded by ListenerLock. `flags`
// is atomic because the Ports page flips PortEnabled while the dispatcher
// reads it; a flip takes effect from the next buffer the dispatcher handles.
// PoolLock guards the buffer pool and the dispatch queue. No code holds both
// locks at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>

#include "midi/sysex_assembly.h"
#include "platform/callback_sync.h"
#include "platform/midi_driver.h"
#include "texts/user_texts.h"

namespace midi {

struct SysExListener;

// Bits of MidiPort::flags.
inline constexpr std::uint32_t PortInput = 0x1;
inline constexpr std::uint32_t PortEnabled = 0x2;
inline constexpr std::uint32_t PortClosing = 0x1000;
// The driver said the port's device is gone (an interface unplugged): the
// port takes part in nothing until ReopenLostPorts finds it again. Set by
// the send path and by the dispatcher, cleared only by ReopenLostPorts.
inline constexpr std::uint32_t PortLost = 0x2000;

// MidiPort::device: the driver's device index in bits 0 to 11, and for an
// output also PortOutputMark.
inline constexpr std::uint32_t PortOutputMark = 0x1000;
inline constexpr std::uint32_t PortDeviceIndexMask = 0xFFF;

// The driver's capabilities as it filled them. Both records begin with wMid,
// wPid, vDriverVersion and szPname, so these may be read through either
// member whatever kind of port it is. `out` comes first so that a
// value-initialised union is zero in all 52 bytes.
union PortCaps {
  platform::MidiOutCaps out;
  platform::MidiInCaps in;
};

struct MidiPort {
  MidiPort* next;
  std::uint32_t device;
  std::atomic<std::uint32_t> flags;
  platform::MidiHandle handle;
  PortCaps caps;
  SysExListener* listeners;  // inputs only
  SysExAssembly assembly;    // inputs only; the dispatcher thread's
};

extern MidiPort* PortList;
// Taken by the driver callbacks too: a lock they may use (callback_sync.h).
extern platform::CallbackLock PoolLock;
extern std::mutex ListenerLock;
// Created by the first MidiTransportInit and never released: the dispatcher
// may still wait on it while the process ends.
extern platform::WakeEvent* DispatcherWake;
// 0 while the dispatcher is to run, 1 once shutdown has begun.
extern std::atomic<std::uint32_t> DispatcherStop;
// None until the dispatcher thread has been started.
extern std::thread* DispatcherHandle;
// First header of the dispatch queue, linked through lpNext; no tail pointer.
extern platform::MidiHeader* DispatchQueue;

// wMid in bits 16 to 31, wPid in bits 0 to 15; 0 for no port.
std::uint32_t PortMidPid(const MidiPort* port);

// Copies the port's name into `destination`, writing exactly `size` bytes
// (zeros behind the name), and terminates at size - 1. Returns destination.
char* PortCopyName(const MidiPort* port, char* destination, std::size_t size);

// Whether a driver's answer says the port's device has gone: Windows 10
// answers MMSYSERR_NODRIVER for an unplugged interface, Windows' newer MIDI
// stack MMSYSERR_ERROR.
inline bool DeviceGone(std::uint32_t error) {
  return error == platform::MmSysErrNoDriver || error == platform::MmSysErrError;
}
// Marks the port lost when `error` says its device has gone; true then.
bool MarkLostIfGone(MidiPort& port, std::uint32_t error);
inline bool PortIsLost(const MidiPort* port) {
  return port != nullptr && (port->flags.load(std::memory_order_relaxed) & PortLost) != 0;
}

// Appends a finished header to the dispatch queue and wakes the dispatcher.
// Runs on the driver's callback threads.
void QueueCompleted(platform::MidiHeader* header);

// The port's name as the driver filled it: up to its first zero byte, and
// never beyond the 32 bytes of szPname (a careless driver may fill them all).
// Empty for no port.
std::string_view PortName(const MidiPort* port);
// What the Ports page and the command line show of a port.
texts::PortFacts DescribePort(const MidiPort& port);

// Zero-initialised allocation of the transport's records (ports, buffers,
// listeners), with a switch through which tests make an allocation fail as
// if memory had run out. Records are value-initialised, so every field
// starts at zero or none.
enum class TransportRecord { Port, Buffer, Listener };

// Returns true to refuse the allocation of that kind of record. None (the
// default) refuses nothing.
using TransportAllocationRefusal = bool (*)(TransportRecord kind);
extern std::atomic<TransportAllocationRefusal> RefuseTransportAllocation;

template <typename Record>
Record* NewTransportRecord(TransportRecord kind) {
  const TransportAllocationRefusal refuse =
      RefuseTransportAllocation.load(std::memory_order_relaxed);
  if (refuse != nullptr && refuse(kind)) return nullptr;
  return new (std::nothrow) Record{};
}

}  // namespace midi
