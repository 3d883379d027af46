#include "session/transcript.h"

#include "platform/dialogs.h"

namespace session {

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text.push_back(' ');
    text.push_back(Digits[byte >> 4]);
    text.push_back(Digits[byte & 0xF]);
  }
  return text;
}

std::string EscapeLineBreaks(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

const char* AnswerName(int answer) {
  switch (answer) {
    case platform::IdOk: return "OK";
    case platform::IdYes: return "YES";
    case platform::IdNo: return "NO";
    case platform::IdRetry: return "RETRY";
    default: return "CANCEL";
  }
}

Transcript::~Transcript() { Close(); }

bool Transcript::Open(const std::string& path, platform::Clock& clock) {
  std::lock_guard lock(mutex_);
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) return false;
  clock_ = &clock;
  start_ = clock.TickCount();
  failed_ = std::fprintf(file_, "%s\n", TranscriptFirstLine) < 0;
  return true;
}

bool Transcript::Close() {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return !failed_;
  failed_ = std::fclose(file_) != 0 || failed_;
  file_ = nullptr;
  return !failed_;
}

void Transcript::Line(std::string_view kind, std::string_view rest) {
  if (file_ == nullptr) return;
  const std::int32_t ms = platform::TickDiff(clock_->TickCount(), start_);
  if (std::fprintf(file_, "%ld %.*s %.*s\n", static_cast<long>(ms), static_cast<int>(kind.size()),
                   kind.data(), static_cast<int>(rest.size()), rest.data()) < 0) {
    failed_ = true;
  }
}

void Transcript::OutLocked(std::string_view port, std::span<const std::uint8_t> bytes) {
  Line("OUT", "[" + std::string(port) + "] " + HexBytes(bytes));
}

void Transcript::Out(std::string_view port, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  OutLocked(port, bytes);
}

void Transcript::In(std::string_view port, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  Line("IN", "[" + std::string(port) + "] " + HexBytes(bytes));
}

void Transcript::Text(std::string_view text) {
  std::lock_guard lock(mutex_);
  Line("TEXT", text);
}

void Transcript::Box(std::string_view caption, std::string_view text, int answer) {
  std::lock_guard lock(mutex_);
  Line("BOX", std::string(caption) + " | " + EscapeLineBreaks(text) + " | " + AnswerName(answer));
}

void Transcript::Interrupted() {
  std::lock_guard lock(mutex_);
  Line("INTERRUPT", "the upload goes on");
}

void Transcript::Stopped() {
  std::lock_guard lock(mutex_);
  Line("STOP", "the upload stops: nothing more is sent");
}

}  // namespace session
