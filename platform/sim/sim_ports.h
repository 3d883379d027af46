// The simulated driver's port records, shared by its source files only.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sim/midi_input_assembly.h"
#include "platform/sim/ring_queue.h"
#include "platform/sim/sim_midi_driver.h"

namespace sim {

// Slots of a header's dwReserved that the driver uses while it holds it.
inline constexpr int SlotSequence = 0;  // output: sequence number of the send
inline constexpr int SlotDelivery = 1;  // see DeliveryMark
inline constexpr int SlotTraffic = 2;   // output: index + 1 of its SentChunk, 0 for none

// The error code for call number `call`, or 0.
inline std::uint32_t FaultFor(const std::vector<SimFault>& faults, std::uint32_t call) {
  for (const SimFault& fault : faults) {
    if (fault.Hits(call)) return fault.code;
  }
  return 0;
}

// Whether a header was handed to a callback and not yet given back.
enum DeliveryMark : std::uintptr_t { NotDelivered = 0, DeliveredTracked = 1, DeliveredUntracked = 2 };

// A FIFO of headers linked through lpNext, which belongs to the driver while
// it holds a buffer.
// What winmm does to a header's flags when it takes one (queued, not done)
// and when it hands one back (done, no longer queued).
inline void MarkQueued(platform::MidiHeader* header) {
  header->dwFlags = (header->dwFlags | platform::MhdrInQueue) & ~platform::MhdrDone;
}
inline void MarkDone(platform::MidiHeader* header) {
  header->dwFlags = (header->dwFlags | platform::MhdrDone) & ~platform::MhdrInQueue;
}

struct HeaderQueue {
  platform::MidiHeader* head = nullptr;
  platform::MidiHeader* tail = nullptr;
  std::uint32_t size = 0;

  void Push(platform::MidiHeader* header) {
    header->lpNext = nullptr;
    if (tail != nullptr) tail->lpNext = header; else head = header;
    tail = header;
    ++size;
  }
  platform::MidiHeader* Pop() {
    platform::MidiHeader* header = head;
    if (header == nullptr) return nullptr;
    head = header->lpNext;
    if (head == nullptr) tail = nullptr;
    header->lpNext = nullptr;
    --size;
    return header;
  }
  // A reset: every header goes back marked done, in queue order, through
  // the port's callback with `message`. Called without the port's lock.
  void HandBackAll(platform::MidiCallback callback, platform::MidiHandle port,
                   std::uint32_t message, std::uintptr_t instance) {
    while (platform::MidiHeader* header = Pop()) {
      MarkDone(header);
      if (callback != nullptr) callback(port, message, instance, reinterpret_cast<std::uintptr_t>(header), 0);
    }
  }
};

struct SimMidiDriver::Notices {
  std::array<Notice, 4> items{};
  int count = 0;
  void Add(const Notice& notice) {
    if (count < static_cast<int>(items.size())) items[static_cast<std::size_t>(count++)] = notice;
  }
  void Send() const {
    for (int i = 0; i < count; ++i) {
      const Notice& n = items[static_cast<std::size_t>(i)];
      if (n.callback != nullptr) n.callback(n.handle, n.message, n.instance, n.param1, n.param2);
    }
  }
};

struct SimMidiDriver::InPort {
  SimMidiDriver* driver = nullptr;
  std::uint32_t index = 0;
  SimInputConfig config;
  std::vector<SimFault> addFaults;
  bool tracked = true;

  mutable std::mutex mutex;  // everything below
  std::condition_variable bufferAdded;
  bool open = false;
  bool started = false;
  std::uint32_t gone = 0;   // non-zero: unplugged, and what every call answers
  std::uint32_t split = 0;  // non-zero: buffers go back after this many bytes
  bool burst = false;       // what is sent arrives whole and at once
  bool deferring = false;   // a burst is going in: its callbacks wait in `deferred`
  std::vector<Notice> deferred;
  platform::MidiCallback callback = nullptr;
  std::uintptr_t instance = 0;
  std::uint32_t startedAt = 0;
  std::uint32_t addCalls = 0;
  HeaderQueue queue;  // buffers to fill, the current one first
  std::uint64_t dropped = 0;
  // A threaded delivery waited in vain for a buffer: until the host adds one,
  // further bytes are dropped at once rather than each waiting again.
  bool starved = false;

  InputAssembly assembly;

  // Virtual delivery: bytes on their way, in segments of one SendToInput.
  struct Segment {
    std::uint32_t due;
    std::uint32_t length;
  };
  RingQueue<std::uint8_t> wire;
  RingQueue<Segment> segments;
  bool eventPending = false;
  bool segmentActive = false;
  std::uint32_t segmentStart = 0;
  std::uint32_t segmentConsumed = 0;
  std::uint32_t wireFreeAt = 0;  // arrival of the last byte delivered

  std::mutex injectMutex;  // serialises InjectNow callers
};

struct SimMidiDriver::OutPort {
  SimMidiDriver* driver = nullptr;
  std::uint32_t index = 0;
  SimOutputConfig config;
  std::vector<SimFault> prepareFaults;
  std::vector<SimFault> longFaults;

  mutable std::mutex mutex;  // everything below
  bool open = false;
  std::uint32_t gone = 0;  // non-zero: unplugged, and what every call answers
  platform::MidiCallback callback = nullptr;
  std::uintptr_t instance = 0;
  std::uint32_t prepareCalls = 0;
  std::uint32_t longCalls = 0;
  std::uint32_t nextSequence = 1;
  std::uint32_t wireFreeAt = 0;
  HeaderQueue inFlight;
  std::vector<SentChunk> sent;

  // Reassembly of what arrived, and the endpoints it goes to. Completions of
  // one port are serialised by completionMutex (taken before `mutex`), which
  // also guards the fields below. An endpoint must not reset the port it
  // listens on from inside OnSysEx.
  std::mutex completionMutex;
  std::vector<MidiEndpoint*> endpoints;
  std::vector<std::uint8_t> message;
  bool inMessage = false;
  std::uint64_t discarded = 0;
};

// The behaviours ApplyWorld gave, on the instrument's ports (sim_world.cpp).
struct SimMidiDriver::WorldState {
  WorldBehaviours behaviours;
  std::uint32_t input = 0;
  std::uint32_t output = 0;
  std::uint32_t startMs = 0;
  mutable std::mutex mutex;  // everything below
  TrafficSource traffic{0, 0};
  ByteDropper dropper;
  std::uint32_t sent = 0;  // long messages that have left on the output
  WorldEffects effects;
};

struct SimMidiDriver::Worker {
  struct Job {
    OutPort* port;
    std::uint32_t sequence;
  };
  std::mutex mutex;
  std::condition_variable wake;
  RingQueue<Job> jobs;
  bool stop = false;
  std::thread thread;
};

}  // namespace sim
