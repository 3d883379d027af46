// The run's transcript: every long message the driver accepted, every input
// buffer it handed back, every status text, every message box and the
// user's interrupts during an upload, one line each, stamped with the engine clock's milliseconds since the run began.
// Lines come from the user-interface thread and the driver's callback
// threads; one lock keeps each line whole and the file in the order the
// events happened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace session {

inline constexpr const char* TranscriptFirstLine = "# kelmora-flash transcript 1";

// "F0 7E 7F": upper-case two-digit hexadecimal, single spaces.
std::string HexBytes(std::span<const std::uint8_t> bytes);
// CR and LF written as the two characters \r and \n.
std::string EscapeLineBreaks(std::string_view text);
// The button a box's answer names in the transcript: OK, CANCEL, YES, NO.
const char* AnswerName(int answer);

class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Creates the file and writes its first line; the run's time starts now.
  // False when the file cannot be written.
  bool Open(const std::string& path, platform::Clock& clock);
  bool IsOpen() const { return file_ != nullptr; }
  // False when a write failed at any point (disk full, ...).
  bool Close();

  void Out(std::string_view port, std::span<const std::uint8_t> bytes);
  void In(std::string_view port, std::span<const std::uint8_t> bytes);
  void Text(std::string_view text);
  void Box(std::string_view caption, std::string_view text, int answer);
  // The user's interrupts during an upload: the first, which it survives,
  // and the second, after which nothing more is sent.
  void Interrupted();
  void Stopped();

  // Held by the driver while it hands a long message on, so that an answer
  // that arrives on another thread is written after the message.
  std::mutex& Lock() { return mutex_; }
  // As Out, for a caller that already holds Lock().
  void OutLocked(std::string_view port, std::span<const std::uint8_t> bytes);

 private:
  void Line(std::string_view kind, std::string_view rest);  // mutex_ held

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  platform::Clock* clock_ = nullptr;
  std::uint32_t start_ = 0;
  bool failed_ = false;
};

}  // namespace session
