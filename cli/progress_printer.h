// Draws the progress windows on the terminal, from the events of the
// recording progress view: the window's text lines when it opens; for a
// window with a bar, a line with the bar, the percentage, the current marker
// or status text, the elapsed time and an estimate of the time left. On a
// terminal the line is redrawn in place; otherwise a plain line is printed
// every tenth of the way and for every highlighted status ("!Retry..."), so
// that a log stays short. Times are the engine clock's (virtual in a dry run).
//
// Status texts also go to the transcript, as they are set.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "progress/recording_progress_view.h"
#include "session/transcript.h"

namespace cli {

// "[#########...........]  45%" and the times as "m:ss".
std::string ProgressBar(std::uint32_t position, std::uint32_t total, int width);
std::string MinutesSeconds(std::uint32_t milliseconds);
// The time left at the rate so far; empty until there is a rate to go by.
std::string TimeLeft(std::uint32_t elapsedMs, std::uint32_t position, std::uint32_t total);

class ProgressPrinter {
 public:
  ProgressPrinter(std::FILE* out, bool inPlace, session::Transcript* transcript)
      : out_(out), inPlace_(inPlace), transcript_(transcript) {}

  void OnEvent(const progress::ProgressEvent& event);
  // Ends a line drawn in place, before something else is printed.
  void Interrupt();

 private:
  void Draw(std::uint32_t at, bool force);

  std::FILE* out_;
  bool inPlace_;
  session::Transcript* transcript_;
  bool barShown_ = false;     // a bar window is open
  bool lineOpen_ = false;     // a line drawn in place is not yet ended
  std::uint32_t openedAt_ = 0;
  std::uint32_t position_ = 0;
  std::uint32_t total_ = 0;
  std::string text_;
  int lastTenth_ = -1;
};

}  // namespace cli
