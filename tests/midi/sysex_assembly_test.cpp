// Joining SysEx input cut into pieces: which whole messages come out of which
// pieces.
#include <gtest/gtest.h>

#include <vector>

#include "midi/sysex_assembly.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Join(const std::vector<Bytes>& pieces) {
  midi::SysExAssembly assembly{};
  std::vector<Bytes> messages;
  for (const Bytes& piece : pieces) {
    midi::FeedSysEx(assembly, piece, [&](std::span<const std::uint8_t> message) {
      messages.emplace_back(message.begin(), message.end());
    });
  }
  return messages;
}

TEST(SysExAssembly, JoinsPiecesAndDropsWhatIsBroken) {
  const Bytes reply = {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x41, 0x40, 0x00, 0x00, 0x05, 0xF7};
  Bytes longest(midi::SysExAssemblySize, 0x11);
  longest.front() = 0xF0;
  longest.back() = 0xF7;
  Bytes tooLong = longest;
  tooLong.insert(tooLong.begin() + 1, 0x11);
  struct Case {
    const char* name;
    std::vector<Bytes> pieces;
    std::vector<Bytes> messages;
  };
  const Case cases[] = {
      {"whole in one piece", {reply}, {reply}},
      {"one byte a piece",
       {{0xF0}, {0x00}, {0x6D}, {0x1C}, {0x7F}, {0x41}, {0x40}, {0x00}, {0x00}, {0x05}, {0xF7}},
       {reply}},
      {"the end of one and the start of the next in a piece",
       {{0xF0, 0x01}, {0x02, 0xF7, 0xF0, 0x03}, {0xF7}},
       {{0xF0, 0x01, 0x02, 0xF7}, {0xF0, 0x03, 0xF7}}},
      {"a new F0 cuts a message off",
       {{0xF0, 0x01, 0x02}, {0xF0, 0x03, 0xF7}},
       {{0xF0, 0x03, 0xF7}}},
      {"a status byte breaks it", {{0xF0, 0x01, 0x90, 0x40, 0xF7}}, {}},
      {"real-time bytes inside are skipped",
       {{0xF0, 0xF8, 0x01, 0xFE, 0xF7}},
       {{0xF0, 0x01, 0xF7}}},
      {"bytes outside a message are ignored",
       {{0x01, 0xF7, 0x02}, {0xF0, 0x03, 0xF7}},
       {{0xF0, 0x03, 0xF7}}},
      {"the longest message is kept", {longest}, {longest}},
      {"one byte longer is dropped whole", {tooLong, {0x11, 0xF7}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Join(c.pieces), c.messages);
  }
}

}  // namespace
