// The run's transcript: every long message the driver accepted, every input
// buffer it handed back, every status text, every message box and the
// user's interrupts, one line each, stamped with the engine clock's
// milliseconds since the run began.
//
// Lines come from the user-interface thread and from the transport's
// dispatcher thread (the input), never from a driver's callback; one lock,
// never held across a driver call, keeps each line whole and the file in
// the order the events happened. Each line leaves for the file in one write
// as it is made, so a run that is killed leaves a transcript complete up to
// that moment.
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
// What a box's line names when an interrupt ended the question.
inline constexpr const char* UnansweredName = "NONE";

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

  // Around the driver's call that sends a long message. An answer can be
  // handed back before the call returns; its line waits for the message's,
  // which is written only when the driver accepted it. BeginOut returns the
  // message's time.
  std::int32_t BeginOut();
  void EndOut(std::int32_t at, std::string_view port, std::span<const std::uint8_t> bytes, bool accepted);
  void In(std::string_view port, std::span<const std::uint8_t> bytes);
  void Text(std::string_view text);
  void Box(std::string_view caption, std::string_view text, std::string_view answer);
  // The user's interrupts: the first during an upload, which it survives;
  // the second, after which nothing more is sent; one at a question before
  // the upload, which ends the run.
  void Interrupted();
  void Stopped();
  void EndedBeforeUpload();

 private:
  std::int32_t Now() const;  // mutex_ held
  std::string Format(std::int32_t at, std::string_view kind, std::string_view rest) const;
  void Write(const std::string& line);                        // mutex_ held
  void Line(std::string_view kind, std::string_view rest);  // mutex_ held

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  platform::Clock* clock_ = nullptr;
  std::uint32_t start_ = 0;
  bool failed_ = false;
  int sending_ = 0;      // driver calls between BeginOut and EndOut
  std::string waiting_;  // input lines held back meanwhile
  std::size_t waitingLines_ = 0;
};

}  // namespace session
