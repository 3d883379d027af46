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

namespace {

// Every line is shorter than this (a box's text, the longest, is at most a
// few kilobytes), so the buffer takes it whole and the flush writes it in one
// call: a process killed mid-write leaves no part of a line.
constexpr std::size_t LineBufferSize = 64 * 1024;
// Input lines held back during one send, at most. More means a driver that
// stalls inside its call; the rest are written at once, out of order rather
// than lost.
constexpr std::size_t MaxWaitingLines = 64;

}  // namespace

Transcript::~Transcript() { Close(); }

bool Transcript::Open(const std::string& path, platform::Clock& clock) {
  std::lock_guard lock(mutex_);
  // Binary: the same lines, ended by LF, on every system.
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  std::setvbuf(file_, nullptr, _IOFBF, LineBufferSize);
  clock_ = &clock;
  start_ = clock.TickCount();
  Write(std::string(TranscriptFirstLine) + "\n");
  return true;
}

bool Transcript::Close() {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return !failed_;
  if (!waiting_.empty()) Write(waiting_);
  failed_ = std::fclose(file_) != 0 || failed_;
  file_ = nullptr;
  return !failed_;
}

std::int32_t Transcript::Now() const {
  return clock_ != nullptr ? platform::TickDiff(clock_->TickCount(), start_) : 0;
}

std::string Transcript::Format(std::int32_t at, std::string_view kind, std::string_view rest) const {
  std::string line = std::to_string(at);
  line.append(" ").append(kind).append(" ").append(rest).append("\n");
  return line;
}

void Transcript::Write(const std::string& line) {
  if (file_ == nullptr) return;
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) failed_ = true;
}

void Transcript::Line(std::string_view kind, std::string_view rest) { Write(Format(Now(), kind, rest)); }

std::int32_t Transcript::BeginOut() {
  std::lock_guard lock(mutex_);
  ++sending_;
  return Now();
}

void Transcript::EndOut(std::int32_t at, std::string_view port, std::span<const std::uint8_t> bytes,
                        bool accepted) {
  std::lock_guard lock(mutex_);
  if (accepted) Write(Format(at, "OUT", "[" + std::string(port) + "] " + HexBytes(bytes)));
  if (--sending_ > 0 || waiting_.empty()) return;
  Write(waiting_);
  waiting_.clear();
  waitingLines_ = 0;
}

void Transcript::In(std::string_view port, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  const std::string line = Format(Now(), "IN", "[" + std::string(port) + "] " + HexBytes(bytes));
  if (sending_ > 0 && waitingLines_ < MaxWaitingLines) {
    waiting_ += line;
    ++waitingLines_;
    return;
  }
  Write(line);
}

void Transcript::Text(std::string_view text) {
  std::lock_guard lock(mutex_);
  Line("TEXT", text);
}

void Transcript::Box(std::string_view caption, std::string_view text, std::string_view answer) {
  std::lock_guard lock(mutex_);
  Line("BOX", std::string(caption) + " | " + EscapeLineBreaks(text) + " | " + std::string(answer));
}

void Transcript::Interrupted() {
  std::lock_guard lock(mutex_);
  Line("INTERRUPT", "the upload goes on");
}

void Transcript::Stopped() {
  std::lock_guard lock(mutex_);
  Line("STOP", "the upload stops: nothing more is sent");
}

void Transcript::EndedBeforeUpload() {
  std::lock_guard lock(mutex_);
  Line("STOP", "the run ends before the upload: nothing more is sent");
}

}  // namespace session
