#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "image/smf_read.h"

using namespace image;

namespace {

struct VarLenCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::int32_t value;   // -1: the end comes first
  std::size_t advance;  // bytes consumed on success
};

const VarLenCase VarLenCases[] = {
    {"single byte zero", {0x00, 0x99}, 0, 1},
    {"single byte max", {0x7F}, 0x7F, 1},
    {"two bytes", {0x81, 0x00}, 0x80, 2},
    {"two bytes max", {0xFF, 0x7F, 0x05}, 0x3FFF, 2},
    {"four bytes", {0xFF, 0xFF, 0xFF, 0x7F}, 0x0FFFFFFF, 4},
    // No four-byte limit: the value keeps accumulating, losing its high bits.
    {"five bytes", {0x81, 0x80, 0x80, 0x80, 0x00}, 0x10000000, 5},
    {"six bytes wrap in 32 bits", {0x82, 0x80, 0x80, 0x80, 0x80, 0x01}, 0x00000001, 6},
    {"leading continuation bytes", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x05}, 5, 7},
    {"empty range", {}, -1, 0},
    {"end inside the quantity", {0x81}, -1, 0},
    {"end after many continuation bytes", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -1, 0},
};

TEST(ReadVarLen, ReadsWithinTheEndAndLeavesTheOffsetOnFailure) {
  for (const VarLenCase& c : VarLenCases) {
    SCOPED_TRACE(c.name);
    // A copy of exactly the given size: any read past it is visible to ASan.
    std::vector<std::uint8_t> bytes = c.bytes;
    std::size_t offset = 0;
    std::uint32_t value = 12345;
    const bool complete = ReadVarLen(bytes, offset, value);
    EXPECT_EQ(complete, c.value != -1);
    EXPECT_EQ(offset, c.advance);
    EXPECT_EQ(value, complete ? static_cast<std::uint32_t>(c.value) : 12345u);
  }
}

TEST(ReadVarLen, IsBoundedByTheGivenSpanNotByTheBuffer) {
  // The quantity continues past the span's end; the bytes behind it must not count.
  const std::uint8_t bytes[] = {0x00, 0x83, 0x01};
  std::size_t offset = 1;
  std::uint32_t value = 0;
  EXPECT_FALSE(ReadVarLen(std::span(bytes, 2), offset, value));
  EXPECT_EQ(offset, 1u);
  ASSERT_TRUE(ReadVarLen(std::span(bytes, 3), offset, value));
  EXPECT_EQ(value, 0x181u);
  EXPECT_EQ(offset, 3u);
}

TEST(ReadVarLen, TellsAHighValueFromATruncation) {
  const std::vector<std::uint8_t> bytes = {0x8F, 0xFF, 0xFF, 0xFF, 0x7F};
  std::size_t offset = 0;
  std::uint32_t value = 0;
  ASSERT_TRUE(ReadVarLen(bytes, offset, value));
  EXPECT_EQ(value, 0xFFFFFFFFu);
}

TEST(ReadBigEndian, ReadsMostSignificantByteFirst) {
  const std::uint8_t bytes[] = {0x4D, 0x54, 0x72, 0x6B, 0x80, 0x01};
  EXPECT_EQ(ReadBE32(bytes), 0x4D54726Bu);
  EXPECT_EQ(ReadBE32(bytes + 2), 0x726B8001u);
  EXPECT_EQ(ReadBE16(bytes + 4), 0x8001u);
}

struct CopyCase {
  const char* name;
  std::size_t destinationSize;
  const char* source;
  const char* expected;
};

const CopyCase CopyCases[] = {
    {"shorter than the room", 20, "1.91", "1.91"},
    {"exactly the room", 5, "abcd", "abcd"},
    {"cut to size minus one", 5, "abcdefgh", "abcd"},
    {"room for the NUL only", 1, "abc", ""},
    {"empty source", 8, "", ""},
};

TEST(CopyBounded, AlwaysTerminatesAndNeverWritesPastTheDestination) {
  for (const CopyCase& c : CopyCases) {
    SCOPED_TRACE(c.name);
    // Guard bytes behind the destination catch an overrun.
    std::vector<char> buffer(c.destinationSize + 4, '#');
    const auto* source = reinterpret_cast<const std::uint8_t*>(c.source);
    CopyBounded(std::span<char>(buffer.data(), c.destinationSize),
                std::span<const std::uint8_t>(source, std::strlen(c.source)));
    EXPECT_STREQ(buffer.data(), c.expected);
    EXPECT_EQ(std::string(buffer.end() - 4, buffer.end()), "####");
  }
}

TEST(CopyBounded, DestinationOfSizeZeroReceivesNothing) {
  char guard = '#';
  const std::uint8_t source[] = {'x'};
  CopyBounded(std::span<char>(&guard, 0), source);
  EXPECT_EQ(guard, '#');
}

TEST(CopyBounded, CopiesBytesAsTheyAreUpToAnEmbeddedNul) {
  const std::uint8_t source[] = {'1', 0x00, '2', 0xE9};
  char destination[8];
  std::memset(destination, '#', sizeof destination);
  CopyBounded(destination, source);
  EXPECT_EQ(std::memcmp(destination, "1\0" "2\xE9\0", 5), 0);
}

}  // namespace
