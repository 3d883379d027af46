// What a simulated input does with each byte that arrives, the way winmm
// does it: SysEx fills the queued buffers, short messages go to the callback
// as MIM_DATA, broken SysEx comes back as MIM_LONGERROR.
#include <chrono>

#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/sim_ports.h"

namespace sim {
namespace {

constexpr std::uint8_t SysExStart = 0xF0;
constexpr std::uint8_t SysExEnd = 0xF7;
constexpr std::uint8_t FirstRealTime = 0xF8;
// How long a threaded delivery waits for the host to queue a buffer.
constexpr auto BufferWaitLimit = std::chrono::seconds(10);

// Data bytes that follow a status byte.
std::uint8_t DataBytesOf(std::uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    case 0xF0:
      return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
    default:
      return 2;
  }
}

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
  if (header->dwBytesRecorded < header->dwBufferLength) return false;
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
    const auto shortMessage = [&](std::uintptr_t packed) {
      notices.Add({port.callback, &port, platform::MimData, port.instance, packed, stamp});
    };
    const auto breakSysEx = [&] {
      // What the broken message left in the current buffer comes back
      // flagged as an error.
      if (port.queue.head != nullptr && port.queue.head->dwBytesRecorded > 0) {
        HandBack(port, platform::MimLongError, notices);
        handedBack = true;
      }
      port.inSysEx = false;
    };

    if (byte >= FirstRealTime) {
      shortMessage(byte);  // real time, even in the middle of SysEx
    } else if (byte == SysExStart) {
      if (port.inSysEx) breakSysEx();
      port.inSysEx = true;
      port.status = port.have = port.needed = 0;
      handedBack |= Put(port, byte, waitForBuffer, lock, notices);
    } else if (byte == SysExEnd) {
      if (port.inSysEx) {
        port.inSysEx = false;
        const bool full = Put(port, byte, waitForBuffer, lock, notices);
        handedBack |= full;
        // The F7 went into a buffer that still has room: it ends here.
        if (!full && port.queue.head != nullptr && port.queue.head->dwBytesRecorded > 0) {
          HandBack(port, platform::MimLongData, notices);
          handedBack = true;
        }
      }  // a stray F7 means nothing
    } else if (byte >= 0x80) {
      if (port.inSysEx) breakSysEx();
      port.status = byte;
      port.needed = DataBytesOf(byte);
      port.have = 0;
      if (port.needed == 0) {
        shortMessage(byte);
        port.status = 0;
      }
    } else if (port.inSysEx) {
      handedBack |= Put(port, byte, waitForBuffer, lock, notices);
    } else if (port.status != 0) {
      port.data[port.have++] = byte;
      if (port.have == port.needed) {
        shortMessage(port.status | (std::uintptr_t{port.data[0]} << 8) |
                     (port.needed == 2 ? std::uintptr_t{port.data[1]} << 16 : 0));
        port.have = 0;
        // Channel messages keep their running status; system common ones do not.
        if (port.status >= 0xF0) port.status = 0;
      }
    } else {
      ++port.dropped;  // a data byte without a status
    }
  }
  notices.Send();
  return handedBack;
}

}  // namespace sim
