// Reads a transcript back into events, for the tests' checks of the
// protocol's rules.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
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

inline bool ParseHex(const std::string& text, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (text.empty()) return false;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    if (i + 2 > text.size() || (i + 2 < text.size() && text[i + 2] != ' ')) return false;
    unsigned value = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char c = text[k];
      if (c >= '0' && c <= '9') value = value * 16 + static_cast<unsigned>(c - '0');
      else if (c >= 'A' && c <= 'F') value = value * 16 + static_cast<unsigned>(c - 'A' + 10);
      else return false;  // lower case is not the format
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return true;
}

inline TranscriptFile ReadTranscript(const std::string& path) {
  TranscriptFile file;
  std::ifstream in(path);
  std::getline(in, file.firstLine);
  std::string line;
  while (std::getline(in, line)) {
    TranscriptEvent e;
    const std::size_t space = line.find(' ');
    const std::size_t space2 = space == std::string::npos ? space : line.find(' ', space + 1);
    if (space2 == std::string::npos) {
      file.malformed.push_back(line);
      continue;
    }
    try {
      e.ms = std::stoll(line.substr(0, space));
    } catch (...) {
      file.malformed.push_back(line);
      continue;
    }
    e.kind = line.substr(space + 1, space2 - space - 1);
    e.rest = line.substr(space2 + 1);
    if (e.kind == "OUT" || e.kind == "IN") {
      const std::size_t close = e.rest.find("] ");
      if (e.rest.empty() || e.rest[0] != '[' || close == std::string::npos ||
          !ParseHex(e.rest.substr(close + 2), e.bytes)) {
        file.malformed.push_back(line);
        continue;
      }
      e.port = e.rest.substr(1, close - 1);
    } else if (e.kind != "TEXT" && e.kind != "BOX" && e.kind != "INTERRUPT" && e.kind != "STOP") {
      file.malformed.push_back(line);
      continue;
    }
    file.events.push_back(e);
  }
  return file;
}

}  // namespace cli_test
