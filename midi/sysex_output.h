// SysEx output: one MidiBuffer as one long message (SendBuffer), or any
// amount of data in paced chunks of at most 128 bytes (SendSysEx). Sending is
// asynchronous: the driver hands each finished buffer back through
// OutputCallback, and the dispatcher thread releases it and returns it to the
// pool.
#pragma once

#include <cstdint>

#include "midi/midi_buffer.h"
#include "midi/transport_records.h"

namespace midi {

inline constexpr std::uint32_t SendAttempts = 10;
inline constexpr std::uint32_t SendRetryPauseMs = 200;
// After every chunk: n / SendPaceBytesPerMs + SendPaceBaseMs milliseconds.
inline constexpr std::uint32_t SendPaceBytesPerMs = 42;
inline constexpr std::uint32_t SendPaceBaseMs = 20;

// winmm's MMSYSERR_INVALPARAM, for a missing port or buffer.
inline constexpr std::uint32_t SendErrInvalidParameter = 11;

// Sends the buffer's first dwBufferLength bytes (at most 128; the caller set
// dwBufferLength and dwBytesRecorded) as one long message to an output port.
// A refused long message is tried again after 200 ms, 10 attempts in all;
// after the 10th failure the user is told. An answer that says the device
// has gone (DeviceGone) marks the port lost instead, without a box, and
// MMSYSERR_NODRIVER is not tried again. Returns 0 or the driver's error
// code. Whatever the result, the buffer is no longer the caller's: on success
// the driver has it, and a buffer that could not be sent goes back to the
// pool here.
std::uint32_t SendBuffer(MidiPort* port, MidiBuffer* buffer);

// Sends `length` bytes in chunks of at most 128, each followed by a pause of
// n / 42 + 20 ms on the calling thread. Stops at the first chunk that cannot
// be sent and returns its error code (MmSysErrNoMem when no buffer could be
// had); 0 when everything left. A length of 0 or less sends nothing.
std::uint32_t SendSysEx(MidiPort* port, const std::uint8_t* bytes, std::int32_t length);

// The driver's callback for every output port: queues finished buffers.
void KF_CALLBACK OutputCallback(platform::MidiHandle handle, std::uint32_t message,
                                std::uintptr_t instance, std::uintptr_t param1,
                                std::uintptr_t param2);

}  // namespace midi
