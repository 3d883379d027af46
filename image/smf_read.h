// Bounded reads of the Standard MIDI File fields the firmware image is made
// of. Every read is checked against an end the caller names: the image comes
// from a resource (or a file) that nothing else has checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Reads a variable-length quantity (7 bits per byte, most significant group
// first, bit 7 set on every byte but the last) starting at `offset` in
// `bytes`. There is no limit on the number of bytes; the value accumulates in
// 32 bits and loses its high bits on overflow. On success `offset` moves past
// the quantity and `value` holds it. When `bytes` ends before the quantity's
// last byte, returns false and leaves `offset` and `value` untouched.
bool TryReadVarLen(std::span<const std::uint8_t> bytes, std::size_t& offset,
                   std::uint32_t& value);

// The same read in the cursor form: the value, or -1 when `end` comes before
// the quantity's last byte (the cursor then stays where it was). A complete
// quantity whose 32-bit value has bit 31 set also comes back negative, so code
// that must tell the two apart (the track walker) uses TryReadVarLen.
std::int32_t ReadVarLen(const std::uint8_t*& cursor, const std::uint8_t* end);

// Big-endian chunk fields. The caller guarantees 4 (or 2) readable bytes.
std::uint32_t ReadBE32(const std::uint8_t* bytes);
std::uint16_t ReadBE16(const std::uint8_t* bytes);

// Copies min(source length, destination size - 1) bytes and a NUL behind
// them, so the destination always holds a terminated text. A destination of
// size 0 receives nothing.
void CopyBounded(std::span<char> destination, std::span<const std::uint8_t> source);
