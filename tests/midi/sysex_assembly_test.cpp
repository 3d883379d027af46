// Joining SysEx input that a driver hands back in pieces: which whole
// messages come out of which pieces, and what is dropped.
#include <gtest/gtest.h>
#include <vector>

#include "midi/sysex_assembly.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SysExAssembly, JoinsPiecesAndDropsWhatIsBroken) {
  Bytes longest(midi::SysExAssemblySize, 0x11);
  longest.front() = 0xF0;
  longest.back() = 0xF7;
  Bytes tooLong = longest;
  tooLong.insert(tooLong.begin() + 1, 0x11);
  struct Case {
    const char* name;
    std::vector<Bytes> pieces, messages;
  };
  const Case cases[] = {
      {"one byte a piece", {{0xF0}, {1}, {2}, {0xF7}}, {{0xF0, 1, 2, 0xF7}}},
      {"one ends and the next begins in a piece",
       {{0xF0, 1}, {0xF7, 0xF0, 2}, {0xF7}},
       {{0xF0, 1, 0xF7}, {0xF0, 2, 0xF7}}},
      {"a new F0 cuts a message off", {{0xF0, 1, 2}, {0xF0, 3, 0xF7}}, {{0xF0, 3, 0xF7}}},
      {"a status byte breaks it", {{0xF0, 1, 0x90, 0x40, 0xF7}}, {}},
      {"real-time bytes inside are skipped", {{0xF0, 0xF8, 1, 0xFE, 0xF7}}, {{0xF0, 1, 0xF7}}},
      {"bytes outside a message are ignored", {{1, 0xF7, 2}, {0xF0, 3, 0xF7}}, {{0xF0, 3, 0xF7}}},
      {"the longest message is kept", {longest}, {longest}},
      {"one byte longer is dropped whole", {tooLong, {0x11, 0xF7}}, {}},
  };
  for (const Case& c : cases) {
    midi::SysExAssembly assembly{};
    std::vector<Bytes> messages;
    for (const Bytes& piece : c.pieces) {
      midi::FeedSysEx(assembly, piece,
                      [&](auto message) { messages.emplace_back(message.begin(), message.end()); });
    }
    EXPECT_EQ(messages, c.messages) << c.name;
  }
}

}  // namespace
