# Writes a C++ source holding the bytes of a file, for builds that have no
# resource compiler.
#   cmake -DINPUT=image.mid -DOUTPUT=image.cpp -P embed_image.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Two hex digits per byte; 32 bytes a line keeps the source readable and the
# compiler fast.
string(REPEAT "[0-9a-f]" 64 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT} at build time; do not edit.
#include <cstddef>
#include <cstdint>

extern const std::uint8_t EmbeddedFirmwareImage[];
extern const std::size_t EmbeddedFirmwareImageSize;

// One byte more than the image, so that an empty image still makes an array.
const std::uint8_t EmbeddedFirmwareImage[${size} + 1] = {
${bytes}};
const std::size_t EmbeddedFirmwareImageSize = ${size};
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
