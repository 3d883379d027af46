// Bounded reads of the Standard MIDI File fields the firmware image is made
// of. Every read is checked against an end the caller names: the image comes
// from a resource (or a file) that nothing else has checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace image {

// Reads a variable-length quantity (7 bits per byte, most significant group
// first, bit 7 set on every byte but the last) starting at `offset` in
// `bytes`. There is no limit on the number of bytes; the value accumulates in
// 32 bits and loses its high bits on overflow. On success `offset` moves past
// the quantity and `value` holds it. When `bytes` ends before the quantity's
// last byte, returns false and leaves `offset` and `value` untouched.
bool ReadVarLen(std::span<const std::uint8_t> bytes, std::size_t& offset, std::uint32_t& value);

// Big-endian chunk fields. The caller guarantees 4 (or 2) readable bytes.
std::uint32_t ReadBE32(const std::uint8_t* bytes);
std::uint16_t ReadBE16(const std::uint8_t* bytes);

// Copies min(source length, destination size - 1) bytes and a NUL behind
// them, so the destination always holds a terminated text. A destination of
// size 0 receives nothing.
void CopyBounded(std::span<char> destination, std::span<const std::uint8_t> source);

}  // namespace image
