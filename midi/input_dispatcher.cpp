#include "midi/input_dispatcher.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <new>
#include <system_error>
#include <thread>

#include "midi/listeners.h"
#include "midi/midi_buffer.h"
#include "midi/sysex_output.h"
#include "platform/services.h"

namespace midi {

namespace {

// Whether the dispatcher is working on a header it took off the queue, and a
// wake-up for WaitDispatcherIdle; both with PoolLock.
bool DispatcherProcessing = false;
std::condition_variable_any DispatcherIdleChanged;

std::atomic<DispatcherMode> Mode{DispatcherMode::Thread};
// Inline mode only, and so on the one thread: started between the start and
// the shutdown; draining while a drain is on the stack.
bool InlineStarted = false;
bool InlineDraining = false;

// Gives a buffer to the driver for recording. A buffer the driver refuses
// would never come back through the callback, so it returns to the pool; a
// refusal that says the device has gone marks the port lost.
void HandToDriver(MidiPort* port, MidiBuffer* buffer) {
  platform::MidiDriver& midi = platform::Midi();
  platform::MidiHeader* header = &buffer->header;
  header->dwFlags = 0;
  header->dwBytesRecorded = 0;
  if (const std::uint32_t refused = midi.InPrepareHeader(port->handle, header); refused != 0) {
    MarkLostIfGone(*port, refused);
    BufferPut(buffer);
    return;
  }
  if (const std::uint32_t refused = midi.InAddBuffer(port->handle, header); refused != 0) {
    MarkLostIfGone(*port, refused);
    midi.InUnprepareHeader(port->handle, header);
    BufferPut(buffer);
  }
}

platform::MidiHeader* TakeFromQueue() {
  platform::MidiHeader* header = nullptr;
  {
    std::lock_guard lock(PoolLock);
    header = DispatchQueue;
    if (header != nullptr) DispatchQueue = header->lpNext;
    DispatcherProcessing = header != nullptr;
  }
  if (header == nullptr) DispatcherIdleChanged.notify_all();
  return header;
}

void Dispatch(platform::MidiHeader* header, std::span<std::uint8_t, ListenerCaptureLimit> captures) {
  platform::MidiDriver& midi = platform::Midi();
  MidiBuffer* buffer = BufferOf(header);
  auto* port = reinterpret_cast<MidiPort*>(header->dwUser);
  if (port == nullptr) return;  // not one of ours: nothing to release it from
  const std::uint32_t flags = port->flags.load(std::memory_order_relaxed);

  if ((flags & PortInput) == 0) {
    midi.OutUnprepareHeader(port->handle, header);
    BufferPut(buffer);
    return;
  }
  midi.InUnprepareHeader(port->handle, header);
  if ((flags & PortEnabled) == 0 || buffer->returnedAs == platform::MimLongError) {
    DropSysEx(port->assembly);
  } else {
    FeedSysEx(port->assembly, RecordedBytes(*buffer), [&](std::span<const std::uint8_t> message) {
      std::lock_guard lock(ListenerLock);
      OfferToListeners(port->listeners, message, buffer, port, captures);
      OfferToListeners(GlobalListeners, message, buffer, port, captures);
    });
  }
  // A closing port is being taken down: the buffer stays where it is. (A
  // lost one refuses it, and it goes back to the pool.)
  if ((port->flags.load(std::memory_order_relaxed) & PortClosing) != 0) return;
  HandToDriver(port, buffer);
}

void DrainQueue(std::span<std::uint8_t, ListenerCaptureLimit> captures) {
  while (platform::MidiHeader* header = TakeFromQueue()) Dispatch(header, captures);
}

}  // namespace

void QueueInputBuffer(MidiPort* port) {
  if (port == nullptr) return;
  MidiBuffer* buffer = BufferGet();
  if (buffer == nullptr) return;
  buffer->header.dwUser = reinterpret_cast<std::uintptr_t>(port);
  HandToDriver(port, buffer);
}

// Runs on a driver thread, where little may be done safely (winmm forbids
// calling back into the MIDI functions from here): it only queues the header
// and wakes the dispatcher (QueueCompleted takes only the callback lock).
// Short messages never carry a buffer and are dropped.
void KF_CALLBACK InputCallback(platform::MidiHandle, std::uint32_t message, std::uintptr_t,
                               std::uintptr_t param1, std::uintptr_t) {
  if (message == platform::MimLongData || message == platform::MimLongError) {
    auto* header = reinterpret_cast<platform::MidiHeader*>(param1);
    if (header == nullptr) return;
    // The driver has given the buffer back: it is ours to write again.
    BufferOf(header)->returnedAs = message;
    QueueCompleted(header);
  }
}

bool WaitDispatcherIdle(std::uint32_t timeoutMs) {
  if (DispatcherHandle == nullptr) return true;
  std::unique_lock lock(PoolLock);
  return DispatcherIdleChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] {
    return DispatchQueue == nullptr && !DispatcherProcessing;
  });
}

unsigned DispatcherThread() {
  std::array<std::uint8_t, DispatcherCaptureSize> captures{};
  for (;;) {
    if (DispatcherStop.load(std::memory_order_acquire) != 0) return 0;
    DispatcherWake->Wait();
    if (DispatcherStop.load(std::memory_order_acquire) != 0) return 0;
    // One wake-up drains the whole queue.
    DrainQueue(captures);
  }
}

void SetDispatcherMode(DispatcherMode mode) { Mode.store(mode, std::memory_order_relaxed); }

void WakeDispatcher() {
  if (Mode.load(std::memory_order_relaxed) == DispatcherMode::Thread) {
    // Before the first initialisation there is nobody to wake.
    if (DispatcherWake != nullptr) DispatcherWake->Signal();
    return;
  }
  if (!InlineStarted || InlineDraining) return;
  static std::array<std::uint8_t, DispatcherCaptureSize> captures{};
  InlineDraining = true;
  DrainQueue(captures);
  InlineDraining = false;
}

std::atomic<bool> RefuseDispatcherStart{false};

bool StartDispatcherThread() {
  if (DispatcherHandle != nullptr || InlineStarted) return true;
  if (RefuseDispatcherStart.load(std::memory_order_relaxed)) return false;
  if (Mode.load(std::memory_order_relaxed) == DispatcherMode::Inline) {
    InlineStarted = true;
    return true;
  }
  // std::thread reports a failed start by exception; it ends here, at the
  // transport's own boundary.
  try {
    DispatcherHandle = new std::thread(DispatcherThread);
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void StopDispatcherThread() {
  InlineStarted = false;
  if (DispatcherHandle == nullptr) return;
  DispatcherStop.store(1, std::memory_order_release);
  DispatcherWake->Signal();
  DispatcherHandle->join();
  delete DispatcherHandle;
  DispatcherHandle = nullptr;
}

}  // namespace midi
