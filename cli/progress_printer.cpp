#include "cli/progress_printer.h"

#include <algorithm>

#include "platform/clock.h"

namespace cli {
namespace {

constexpr int BarWidth = 30;
constexpr std::size_t ShownTextWidth = 24;

int Percent(std::uint32_t position, std::uint32_t total) {
  if (total == 0) return 0;
  const std::uint64_t p = std::uint64_t{position} * 100 / total;
  return static_cast<int>(p > 100 ? 100 : p);
}

}  // namespace

std::string ProgressBar(std::uint32_t position, std::uint32_t total, int width) {
  const std::uint64_t done =
      total == 0 ? 0 : std::min<std::uint64_t>(width, std::uint64_t{position} * width / total);
  std::string bar = "[";
  bar.append(done, '#');
  bar.append(width - done, '.');
  char percent[8];
  std::snprintf(percent, sizeof percent, "] %3d%%", Percent(position, total));
  return bar + percent;
}

std::string MinutesSeconds(std::uint32_t milliseconds) {
  const std::uint32_t seconds = milliseconds / 1000;
  char text[24];
  std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
  return text;
}

std::string TimeLeft(std::uint32_t elapsedMs, std::uint32_t position, std::uint32_t total) {
  // Below one percent the rate says little yet.
  if (total == 0 || position > total || elapsedMs == 0 || std::uint64_t{position} * 100 < total) return "";
  const std::uint64_t left = std::uint64_t{elapsedMs} * (total - position) / position;
  return MinutesSeconds(static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 0xFFFFFFFFu)));
}

void ProgressPrinter::Interrupt() {
  if (!lineOpen_) return;
  std::fprintf(out_, "\n");
  std::fflush(out_);
  lineOpen_ = false;
}

void ProgressPrinter::Draw(std::uint32_t at, bool force) {
  const std::uint32_t elapsed = static_cast<std::uint32_t>(std::max(0, platform::TickDiff(at, openedAt_)));
  std::string text = text_.substr(0, ShownTextWidth);
  text.resize(ShownTextWidth, ' ');
  const std::string left = TimeLeft(elapsed, position_, total_);
  const std::string line = ProgressBar(position_, total_, BarWidth) + "  " + text + "  " +
                           MinutesSeconds(elapsed) + " elapsed" +
                           (left.empty() ? std::string() : ", " + left + " left");
  if (inPlace_) {
    std::fprintf(out_, "\r%s", line.c_str());
    lineOpen_ = true;
  } else {
    const int tenth = Percent(position_, total_) / 10;
    if (!force && tenth == lastTenth_) return;
    lastTenth_ = tenth;
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
}

void ProgressPrinter::OnEvent(const progress::ProgressEvent& event) {
  using Kind = progress::ProgressEvent::Kind;
  switch (event.kind) {
    case Kind::Open:
      Interrupt();
      for (const std::string& line : event.lines) std::fprintf(out_, "%s\n", line.c_str());
      std::fflush(out_);
      barShown_ = (event.mode & 1) != 0;
      openedAt_ = event.at;
      position_ = total_ = 0;
      text_.clear();
      lastTenth_ = -1;
      break;
    case Kind::Text:
      if (transcript_ != nullptr) transcript_->Text(event.text);
      text_ = event.text;
      if (barShown_ && total_ > 0) {
        Draw(event.at, !text_.empty() && text_.front() == '!');
      } else if (!barShown_ && !text_.empty()) {
        // A status line without a bar: port names while MIDI starts up.
        if (inPlace_) {
          std::fprintf(out_, "\r  %-60.60s", text_.c_str());
          lineOpen_ = true;
          std::fflush(out_);
        }
      }
      break;
    case Kind::Position:
      position_ = event.position;
      total_ = event.total;
      if (barShown_) Draw(event.at, false);
      break;
    case Kind::Close:
      if (barShown_ && total_ > 0 && !inPlace_) Draw(event.at, true);
      Interrupt();
      barShown_ = false;
      break;
  }
}

}  // namespace cli
