// Joining SysEx input that a driver hands back in pieces. winmm returns an
// input buffer at the F7 that ends its message or when the buffer is full,
// but USB MIDI drivers hand back whatever has arrived at once: one reply may
// come in several buffers, and one buffer may hold the end of one message and
// the start of the next. The dispatcher feeds every buffer of an input port
// into that port's assembly and offers the listeners each message once it is
// whole, so a reply is matched the same however the driver cut it.
//
// Bounded: a message that outgrows SysExAssemblySize, or that is cut off by a
// new F0, by a status byte or by a buffer the driver returned as broken
// (MIM_LONGERROR), is dropped whole. Real-time bytes (F8 to FF) may stand
// inside a message and are skipped. Bytes outside a message are ignored: no
// reply begins without its F0. Only the dispatcher thread touches an
// assembly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace midi {

inline constexpr std::size_t SysExAssemblySize = 1024;

// `Size` bounds the message. The transport's listeners wait for replies, none
// longer than SysExAssemblySize; the virtual instrument, which joins what the
// host sends, needs room for the longest upload packet.
template <std::size_t Size>
struct BasicSysExAssembly {
  std::array<std::uint8_t, Size> bytes;
  std::size_t length;  // bytes of the message being joined, its F0 included
  bool inMessage;
};
using SysExAssembly = BasicSysExAssembly<SysExAssemblySize>;

// Forgets the message being joined (a broken buffer, a disabled port).
template <std::size_t Size>
void DropSysEx(BasicSysExAssembly<Size>& assembly) {
  assembly.inMessage = false;
}

// Feeds one piece of input and calls `whole(message)` with every message it
// completes, F0 to F7, in order. The message is valid during the call only.
template <std::size_t Size, typename OnMessage>
void FeedSysEx(BasicSysExAssembly<Size>& assembly, std::span<const std::uint8_t> piece,
               OnMessage&& whole) {
  for (const std::uint8_t byte : piece) {
    if (byte >= 0xF8) continue;  // real time
    if (byte == 0xF0) {
      assembly.inMessage = true;  // a message still being joined is cut off
      assembly.length = 0;
    } else if (!assembly.inMessage) {
      continue;
    } else if (byte >= 0x80 && byte != 0xF7) {
      DropSysEx(assembly);  // a status byte breaks the message
      continue;
    }
    if (assembly.length == assembly.bytes.size()) {
      DropSysEx(assembly);  // longer than any message the listeners wait for
      continue;
    }
    assembly.bytes[assembly.length++] = byte;
    if (byte == 0xF7) {
      DropSysEx(assembly);
      whole(std::span<const std::uint8_t>(assembly.bytes.data(), assembly.length));
    }
  }
}

}  // namespace midi
