// Every SysEx message the flasher exchanges with an instrument: the messages it
// sends, byte for byte, and the listener patterns that recognise the replies.
// Pattern bytes: FD captures a byte, FE skips one, FF ends the pattern (the
// rest of the message, F7 included, is not examined).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace device {

// The maker's SysEx manufacturer identifier, after the F0 of every message.
inline constexpr std::array<std::uint8_t, 3> Mfr = {0x00, 0x6D, 0x1C};
inline constexpr std::uint8_t TarvonicModelId = 0x41;

// MIDI universal non-real-time Identity Request, to all devices.
inline constexpr std::array<std::uint8_t, 6> IdentityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};

// Asked when the Identity Request found nothing: models 2A, 2B and 53, sent
// together as one buffer.
inline constexpr std::array<std::uint8_t, 24> ModelQueries = {
    0xF0, 0x00, 0x6D, 0x1C, 0x2A, 0x0F, 0x3F, 0xF7,  //
    0xF0, 0x00, 0x6D, 0x1C, 0x2B, 0x0F, 0x3F, 0xF7,  //
    0xF0, 0x00, 0x6D, 0x1C, 0x53, 0x0F, 0x3F, 0xF7};

// Asks a Tarvonic in its boot loader for its state; any status reply proves
// the boot loader runs.
inline constexpr std::array<std::uint8_t, 8> StateRequest = {0xF0, 0x00, 0x6D, 0x1C,
                                                              0x7F, 0x41, 0x11, 0xF7};

// Captures: device id (the MIDI channel), family-code low byte (the model id),
// four version characters.
inline constexpr std::array<std::uint8_t, 17> IdentityReplyPattern = {
    0xF0, 0x7E, 0xFD, 0x06, 0x02, 0x00, 0x6D, 0x1C, 0xFD,
    0x00, 0x00, 0x00, 0xFD, 0xFD, 0xFD, 0xFD, 0xFF};
// Captures: model id, one unused byte.
inline constexpr std::array<std::uint8_t, 8> ModelQueryReplyPattern = {0xF0, 0x00, 0x6D, 0x1C,
                                                                        0xFD, 0x0F, 0xFD, 0xFF};
// Captures: device byte (unused), status code, two 7-bit bytes of a value.
inline constexpr std::array<std::uint8_t, 11> StatusReplyPattern = {
    0xF0, 0x00, 0x6D, 0x1C, 0xFD, 0x41, 0x40, 0xFD, 0xFD, 0xFD, 0xFF};
// Captures: device byte (unused), two data bytes.
inline constexpr std::array<std::uint8_t, 10> StateReplyPattern = {0xF0, 0x00, 0x6D, 0x1C, 0xFD,
                                                                    0x41, 0x41, 0xFD, 0xFD, 0xFF};

// Status codes of a status reply.
inline constexpr std::uint8_t StatusAccepted = 0;
inline constexpr std::uint8_t StatusError = 1;
inline constexpr std::uint8_t StatusAgain = 2;
inline constexpr std::uint8_t StatusInSync = 3;
inline constexpr std::uint8_t StatusResync = 4;

}  // namespace device
