// What a simulated input does with each byte that arrives: the assembly
// winmm does (midi_input_assembly.h), into the port's queued buffers.
#include <chrono>

#include "platform/sim/midi_input_assembly.h"
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/sim_ports.h"

namespace sim {
namespace {

// How long a threaded delivery waits for the host to queue a buffer.
constexpr auto BufferWaitLimit = std::chrono::seconds(10);

}  // namespace

void SimMidiDriver::HandBack(InPort& port, std::uint32_t message, Notices& notices) {
  platform::MidiHeader* header = port.queue.Pop();
  if (header == nullptr) return;
  MarkDone(header);
  MarkDelivered(header, port.tracked);
  notices.Add({port.callback, &port, message, port.instance, reinterpret_cast<std::uintptr_t>(header),
               clock_.TickCount() - port.startedAt});
}

bool SimMidiDriver::Put(InPort& port, std::uint8_t byte, bool waitForBuffer,
                        std::unique_lock<std::mutex>& lock, Notices& notices) {
  if (port.queue.head == nullptr && waitForBuffer && !port.starved) {
    // A buffer handed back earlier for this byte must reach the host first:
    // it may be the very one the host is about to queue again.
    if (notices.count > 0) {
      lock.unlock();
      notices.Send();
      notices.count = 0;
      lock.lock();
    }
    port.starved = !port.bufferAdded.wait_for(lock, BufferWaitLimit, [&port] {
      return port.queue.head != nullptr || !port.started || !port.open;
    });
  }
  platform::MidiHeader* header = port.queue.head;
  if (header == nullptr || !port.started || !port.open) {
    ++port.dropped;
    return false;
  }
  header->lpData[header->dwBytesRecorded++] = static_cast<char>(byte);
  const bool piece = port.split != 0 && header->dwBytesRecorded >= port.split;
  if (header->dwBytesRecorded < header->dwBufferLength && !piece) return false;
  HandBack(port, platform::MimLongData, notices);
  return true;
}

bool SimMidiDriver::Feed(InPort& port, std::uint8_t byte, bool waitForBuffer) {
  Notices notices;
  bool handedBack = false;
  {
    std::unique_lock lock(port.mutex);
    if (!port.open || !port.started) {
      ++port.dropped;
      return false;
    }
    const std::uintptr_t stamp = clock_.TickCount() - port.startedAt;
    struct Sink {
      SimMidiDriver& driver;
      InPort& port;
      Notices& notices;
      std::unique_lock<std::mutex>& lock;
      bool waitForBuffer;
      std::uintptr_t stamp;
      bool& handedBack;
      void Short(std::uintptr_t packed) {
        notices.Add({port.callback, &port, platform::MimData, port.instance, packed, stamp});
      }
      // What the broken message left in the current buffer comes back
      // flagged as an error.
      void Broken() {
        if (port.queue.head == nullptr || port.queue.head->dwBytesRecorded == 0) return;
        driver.HandBack(port, platform::MimLongError, notices);
        handedBack = true;
      }
      bool SysEx(std::uint8_t byte) {
        const bool full = driver.Put(port, byte, waitForBuffer, lock, notices);
        handedBack |= full;
        // The F7 went into a buffer that still has room: it ends here.
        if (byte == SysExEnd && !full && port.queue.head != nullptr &&
            port.queue.head->dwBytesRecorded > 0) {
          driver.HandBack(port, platform::MimLongData, notices);
          handedBack = true;
        }
        return true;  // a byte without a buffer is dropped, not kept
      }
      void Stray() { ++port.dropped; }
    } sink{*this, port, notices, lock, waitForBuffer, stamp, handedBack};
    AssembleInput(port.assembly, byte, sink);
    if (port.deferring) {  // a burst: its callbacks come once it is in (RunInput)
      port.deferred.insert(port.deferred.end(), notices.items.begin(), notices.items.begin() + notices.count);
      notices.count = 0;
    }
  }
  notices.Send();
  return handedBack;
}

}  // namespace sim
