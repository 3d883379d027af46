// SysEx listeners: a callback with a reply record, registered for a byte
// pattern on one input port or globally (on every enabled input). The
// dispatcher thread offers each whole SysEx message that arrives on an input
// to the port's own listeners and then to the global ones, most recent
// registration first within each list, and calls every listener whose
// pattern matches.
//
// Callbacks run on the dispatcher thread while ListenerLock is held. So once
// RemoveListener has returned, the listener's callback cannot run any more,
// and its owner may drop the reply record.
#pragma once

#include <cstdint>

#include "midi/listener_pattern.h"
#include "midi/midi_buffer.h"
#include "midi/transport_records.h"

namespace midi {

inline constexpr std::uint32_t ListenerMagic = 0x53784378;  // "xCxS" in memory

// Callback results: 1 or 2 unregister the listener (its handle must not be
// used again), 3 keeps it. Any other result keeps it as well: dropping a
// listener its owner still means to remove would let that owner's later
// RemoveListener hit a record recycled for someone else.
inline constexpr int ListenerRemove = 1;
inline constexpr int ListenerRemoveToo = 2;
inline constexpr int ListenerKeep = 3;

// `header` is the input buffer that completed the matched message (a message
// the driver cut into pieces spans several buffers: the pattern is matched
// against the whole message, see sysex_assembly.h) and `port` the input it
// came in on, also for a global listener; `captures` holds `count` captured
// bytes. Header and captures are valid only during the call.
using ListenerCallback = int (*)(MidiBuffer* header, MidiPort* port, void* reply,
                                 const std::uint8_t* captures, int count);

struct SysExListener {
  std::uint32_t magic;
  SysExListener* next;
  const std::uint8_t* pattern;  // not copied: valid while registered
  ListenerCallback callback;    // none once recycled
  MidiPort* port;               // none: in GlobalListeners
  void* reply;
};

// Guarded by ListenerLock, as are the ports' lists.
extern SysExListener* GlobalListeners;
extern SysExListener* ListenerFreeList;

// Registers a listener on an input port, or globally when `port` is none.
// Returns none when `callback` or `pattern` is missing, when `port` is not
// an input, or when no memory for the record can be had.
SysExListener* AddListener(MidiPort* port, ListenerCallback callback, void* reply,
                           const std::uint8_t* pattern);

// Unregisters and recycles a listener. Ignores none, a record with a wrong
// magic, and a listener that is no longer registered.
void RemoveListener(SysExListener* listener);

// Recycles every listener still registered on `port`, which is about to be
// freed: no record may keep pointing at it. Shutdown only.
void RecycleListenersOf(MidiPort* port);

// The walk over one list for one whole message (F0 to F7): calls every
// matching listener and recycles those whose callback asks for it. `buffer`
// is the input buffer that completed the message. Dispatcher thread, with
// ListenerLock held.
void OfferToListeners(SysExListener*& list, std::span<const std::uint8_t> data, MidiBuffer* buffer,
                      MidiPort* port, std::span<std::uint8_t, ListenerCaptureLimit> captures);

}  // namespace midi
