// Reads a transcript back into events, for the tests' checks of what a run
// wrote, and of its form: a line that follows no rule is kept apart.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace cli_test {

struct TranscriptEvent {
  std::int64_t ms = 0;
  std::string kind;
  std::string port;                 // OUT, IN
  std::vector<std::uint8_t> bytes;  // OUT, IN
  std::string rest;                 // TEXT: the text; BOX: caption | text | answer
};

struct TranscriptFile {
  std::string firstLine;
  std::vector<TranscriptEvent> events;
  std::vector<std::string> malformed;  // lines that follow no rule
};

// Upper-case hex pairs, one space between them.
inline bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 3) {
    const std::string pair = text.substr(i, 2);
    if (pair.size() < 2 || pair.find_first_not_of("0123456789ABCDEF") != std::string::npos ||
        (i + 2 < text.size() && text[i + 2] != ' '))
      return false;
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  }
  return !text.empty();
}

inline TranscriptFile ReadTranscript(const std::string& path) {
  TranscriptFile file;
  std::ifstream in(path);
  std::getline(in, file.firstLine);
  for (std::string line; std::getline(in, line);) {
    TranscriptEvent e;
    const std::size_t space = line.find(' '), space2 = line.find(' ', space + 1);
    const bool timed = space > 0 && space != std::string::npos && space2 != std::string::npos &&
                       line.find_first_not_of("0123456789") == space;
    if (timed) {
      e.ms = std::stoll(line.substr(0, space));
      e.kind = line.substr(space + 1, space2 - space - 1);
      e.rest = line.substr(space2 + 1);
    }
    const std::size_t close = e.rest.find("] ");
    const bool traffic = e.kind == "OUT" || e.kind == "IN";
    if (traffic && e.rest[0] == '[' && close != std::string::npos && ParseHex(e.rest.substr(close + 2), e.bytes)) {
      e.port = e.rest.substr(1, close - 1);
    } else if (!timed || traffic || (e.kind != "TEXT" && e.kind != "BOX" && e.kind != "INTERRUPT" && e.kind != "STOP")) {
      file.malformed.push_back(line);
      continue;
    }
    file.events.push_back(e);
  }
  return file;
}

}  // namespace cli_test
