#include "midi/listeners.h"

#include <algorithm>

#include "midi/transport_records.h"

namespace midi {

SysExListener* GlobalListeners = nullptr;
SysExListener* ListenerFreeList = nullptr;

namespace {

SysExListener*& ListOf(MidiPort* port) { return port != nullptr ? port->listeners : GlobalListeners; }

void Recycle(SysExListener* listener) {
  listener->callback = nullptr;
  listener->next = ListenerFreeList;
  ListenerFreeList = listener;
}

}  // namespace

SysExListener* AddListener(MidiPort* port, ListenerCallback callback, void* reply,
                           const std::uint8_t* pattern) {
  if (callback == nullptr || pattern == nullptr) return nullptr;
  if (port != nullptr && (port->flags.load(std::memory_order_relaxed) & PortInput) == 0) {
    return nullptr;
  }
  std::lock_guard lock(ListenerLock);
  SysExListener* listener = ListenerFreeList;
  if (listener != nullptr) {
    ListenerFreeList = listener->next;
  } else {
    listener = NewTransportRecord<SysExListener>(TransportRecord::Listener);
    if (listener == nullptr) return nullptr;
  }
  listener->magic = ListenerMagic;
  listener->callback = callback;
  listener->pattern = pattern;
  listener->reply = reply;
  listener->port = port;
  SysExListener*& list = ListOf(port);
  listener->next = list;
  list = listener;
  return listener;
}

void RemoveListener(SysExListener* listener) {
  if (listener == nullptr) return;
  std::lock_guard lock(ListenerLock);
  // Read under the lock: AddListener rewrites the magic of a recycled record.
  if (listener->magic != ListenerMagic) return;
  for (SysExListener** link = &ListOf(listener->port); *link != nullptr; link = &(*link)->next) {
    if (*link == listener) {
      *link = listener->next;
      Recycle(listener);
      return;
    }
  }
}

void RecycleListenersOf(MidiPort* port) {
  std::lock_guard lock(ListenerLock);
  while (SysExListener* listener = port->listeners) {
    port->listeners = listener->next;
    // A late RemoveListener on it then searches the global list, finds
    // nothing and changes nothing.
    listener->port = nullptr;
    Recycle(listener);
  }
}

void OfferToListeners(SysExListener*& list, std::span<const std::uint8_t> data, MidiBuffer* buffer,
                      MidiPort* port, std::span<std::uint8_t, ListenerCaptureLimit> captures) {
  SysExListener** link = &list;
  while (*link != nullptr) {
    SysExListener* listener = *link;
    int count = 0;
    if (!MatchListenerPattern(listener->pattern, data.size() + 1, data, captures, count)) {
      link = &listener->next;
      continue;
    }
    const int result = listener->callback(buffer, port, listener->reply, captures.data(), count);
    if (result == ListenerRemove || result == ListenerRemoveToo) {
      *link = listener->next;
      Recycle(listener);
    } else {
      link = &listener->next;
    }
  }
}

}  // namespace midi
