// How a MIDI input turns the bytes that arrive into what winmm hands a
// program: SysEx into the queued buffers, short and real-time messages packed
// as MIM_DATA carries them, and a SysEx message that a status byte breaks off
// handed back as an error. The simulated driver and the MIDI driver the Wine
// tests install both assemble their input here; each brings a sink of its own
// for the buffers, since one drops a byte that finds no buffer and the other
// keeps it for the next buffer.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

inline constexpr std::uint8_t SysExStart = 0xF0;
inline constexpr std::uint8_t SysExEnd = 0xF7;
inline constexpr std::uint8_t FirstRealTime = 0xF8;

// Data bytes that follow a status byte.
constexpr std::uint8_t DataBytesOf(std::uint8_t status) {
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

struct InputAssembly {
  bool inSysEx = false;
  std::uint8_t status = 0;  // running status, 0 for none
  std::uint8_t needed = 0;
  std::uint8_t have = 0;
  std::array<std::uint8_t, 2> data{};
};

// Takes one byte. The sink offers:
//   Short(packed)  a short or real-time message, packed as MIM_DATA's param1;
//   Broken()       a status byte broke off the SysEx message in progress;
//   SysEx(byte)    a byte of a SysEx message, F0 and F7 included: false when
//                  the sink cannot take it now, and then the assembly is left
//                  as it was, for the byte to be offered again;
//   Stray()        a data byte without a status, dropped.
// Returns false only when SysEx() did.
template <typename Sink>
bool AssembleInput(InputAssembly& in, std::uint8_t byte, Sink& sink) {
  if (byte >= FirstRealTime) {
    sink.Short(byte);  // real time, even in the middle of SysEx
    return true;
  }
  if (byte >= 0x80 && byte != SysExEnd && in.inSysEx) {
    sink.Broken();
    in.inSysEx = false;
  }
  if (byte == SysExStart || byte == SysExEnd) {
    if (byte == SysExEnd && !in.inSysEx) return true;  // a stray F7 means nothing
    if (!sink.SysEx(byte)) return false;
    in.inSysEx = byte == SysExStart;
    in.status = in.needed = in.have = 0;
    return true;
  }
  if (byte >= 0x80) {
    in.status = byte;
    in.needed = DataBytesOf(byte);
    in.have = 0;
    if (in.needed == 0) {
      sink.Short(byte);
      in.status = 0;
    }
    return true;
  }
  if (in.inSysEx) return sink.SysEx(byte);
  if (in.status == 0) {
    sink.Stray();
    return true;
  }
  in.data[in.have++] = byte;
  if (in.have == in.needed) {
    sink.Short(in.status | (std::uintptr_t{in.data[0]} << 8) |
               (in.needed == 2 ? std::uintptr_t{in.data[1]} << 16 : 0));
    in.have = 0;
    // Channel messages keep their running status; system common ones do not.
    if (in.status >= 0xF0) in.status = 0;
  }
  return true;
}

}  // namespace sim
