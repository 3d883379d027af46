// The input side: input buffers handed to the ports, the driver's input
// callback, and the dispatcher thread that releases every finished buffer,
// offers input to the listeners and hands it back to its port, and returns
// finished output buffers to the pool.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "midi/transport_records.h"

namespace midi {

// Captures of one listener walk live on the dispatcher's stack.
inline constexpr std::size_t DispatcherCaptureSize = 1024;

// Hands one buffer from the pool to an input port for recording. Does
// nothing when no buffer can be had.
void QueueInputBuffer(MidiPort* port);

// The driver's callback for every input port: queues returned buffers.
void KF_CALLBACK InputCallback(platform::MidiHandle handle, std::uint32_t message,
                               std::uintptr_t instance, std::uintptr_t param1, std::uintptr_t param2);

// Waits until the dispatcher has handled every header queued so far, at most
// `timeoutMs` of real time; false when that ran out. Returns at once when no
// dispatcher thread runs. For simulations that must know when the transport
// has caught up (the virtual clock's settle step); not used by the program.
bool WaitDispatcherIdle(std::uint32_t timeoutMs);

// The dispatcher thread's routine. Runs until it finds DispatcherStop set
// after a wake-up or after draining the queue; returns 0.
unsigned DispatcherThread();

// Where the dispatcher runs. Thread (the default): a thread of its own.
// Inline: on no thread of its own, for a platform that has none to give: the
// page's WebAssembly engine (a browser shares memory between threads only
// with a page served cross-origin isolated, which a plain static host does
// not do). Its driver calls back on the one thread, at the engine's waits
// (JavaScript events while it sleeps) or inside a driver call (MOM_DONE
// inside OutLongMsg), and the wake-up that QueueCompleted gives drains the
// queue right there; a drain already under way takes what is queued
// meanwhile. Chosen before MidiTransportInit.
enum class DispatcherMode { Thread, Inline };
void SetDispatcherMode(DispatcherMode mode);

// Wakes the dispatcher after a header was queued: signals its thread, or
// drains the queue inline. Nothing happens before the start or after the
// shutdown.
void WakeDispatcher();

// Starts DispatcherThread and stores its handle in DispatcherHandle (in the
// inline mode, marks the dispatcher started); false when no thread could be
// started. True at once when the dispatcher runs already.
bool StartDispatcherThread();
// Ends the dispatcher: stop flag, wake-up, and the wait for its thread.
void StopDispatcherThread();
// While true, StartDispatcherThread fails, as if the system had no thread to
// give: how tests reach the transport's answer to that.
extern std::atomic<bool> RefuseDispatcherStart;

}  // namespace midi
