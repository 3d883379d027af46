#include "cli/terminal_dialogs.h"

#include <cctype>
#include <optional>
#include <string>

#include "cli/interrupts.h"
#include "texts/user_texts.h"

namespace cli {
namespace {

constexpr std::uint32_t ButtonMask = 0xF;

struct Choice {
  const char* prompt;
  const char* yesWord;  // what --yes prints
  int first;            // the answer to a reply beginning with `firstKey`
  char firstKey;
  int second;
  char secondKey;
  int assumed;          // --yes
};

Choice ChoiceFor(std::uint32_t buttons) {
  switch (buttons) {
    case platform::BoxYesNo:
      return {"[y]es / [n]o? ", "Yes", platform::IdYes, 'y', platform::IdNo, 'n', platform::IdYes};
    case platform::BoxRetryCancel:
      return {"[r]etry / [c]ancel? ", "Cancel", platform::IdRetry, 'r', platform::IdCancel, 'c',
              platform::IdCancel};
    default:
      return {"[o]k / [c]ancel? ", "OK", platform::IdOk, 'o', platform::IdCancel, 'c', platform::IdOk};
  }
}

}  // namespace

std::optional<int> TerminalDialogs::Ask(std::uint32_t buttons) {
  if (buttons == platform::BoxOk) {
    std::fprintf(out_, "[OK]\n");
    return platform::IdOk;
  }
  const Choice choice = ChoiceFor(buttons);
  if (assumeYes_) {
    std::fprintf(out_, "%s%s (--yes)\n", choice.prompt, choice.yesWord);
    return choice.assumed;
  }
  // During the upload the interrupts are caught already, and counted on.
  const bool catching = !uploadRunning_;
  if (catching) CatchInterrupts(true);
  std::optional<int> answer;
  for (int seen = CaughtInterrupts();;) {
    std::fprintf(out_, "%s", choice.prompt);
    std::fflush(out_);
    std::string line;
    const AnswerRead read = ReadAnswerLine(in_, line, seen);
    if (read == AnswerRead::Interrupted) {
      std::fprintf(out_, "\n");
      std::fflush(out_);
      // Before the upload it ends the run; during it the first warns and the
      // question is asked again, the second stops the upload.
      if (!uploadRunning_) {
        stopped_ = endedBeforeUpload_ = true;
        break;
      }
      if (StopRequested()) break;
      seen = CaughtInterrupts();
      continue;
    }
    std::size_t at = 0;
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
    const char key = at < line.size() ? static_cast<char>(std::tolower(static_cast<unsigned char>(line[at]))) : 0;
    if (key == choice.firstKey) {
      answer = choice.first;
      break;
    }
    if (key == choice.secondKey || read == AnswerRead::EndOfInput) {
      if (read == AnswerRead::EndOfInput && key != choice.secondKey) std::fprintf(out_, "\n");
      answer = choice.second;
      break;
    }
  }
  if (catching) CatchInterrupts(false);
  return answer;
}

void TerminalDialogs::UploadRunning(bool running) {
  uploadRunning_ = running;
  if (running) warned_ = stopped_ = false;
  CatchInterrupts(running);
}

bool TerminalDialogs::StopRequested() {
  if (!uploadRunning_ || stopped_) return stopped_;
  const int caught = CaughtInterrupts();
  if (caught >= 1 && !warned_) {
    warned_ = true;
    if (beforeBox_ != nullptr) beforeBox_(beforeBoxContext_);
    std::fprintf(err_, "\nkelmora-flash: %s\n", texts::InterruptWarningText);
    std::fflush(err_);
    if (transcript_ != nullptr) transcript_->Interrupted();
  }
  if (caught >= 2) {
    stopped_ = true;
    if (transcript_ != nullptr) transcript_->Stopped();
  }
  return stopped_;
}

int TerminalDialogs::MessageBox(platform::WindowHandle, const char* text, const char* caption,
                                std::uint32_t flags) {
  if (beforeBox_ != nullptr) beforeBox_(beforeBoxContext_);
  const std::string shownCaption = caption != nullptr ? caption : "Error";
  const std::string shownText = text != nullptr ? text : "";
  std::string body;
  for (std::size_t i = 0; i < shownText.size(); ++i) {
    if (shownText[i] == '\r' && i + 1 < shownText.size() && shownText[i + 1] == '\n') continue;
    body.push_back(shownText[i] == '\r' ? '\n' : shownText[i]);
  }
  std::fprintf(out_, "\n== %s ==\n%s\n", shownCaption.c_str(), body.c_str());
  const bool beforeUpload = !uploadRunning_;
  const std::optional<int> answer = Ask(flags & ButtonMask);
  std::fflush(out_);
  if (transcript_ != nullptr) {
    transcript_->Box(shownCaption, shownText, answer ? session::AnswerName(*answer) : session::UnansweredName);
    if (!answer && beforeUpload) transcript_->EndedBeforeUpload();
  }
  // What a front end does with any answer but OK or Retry: nothing more is
  // sent. StopRequested tells its caller that nobody answered.
  return answer.value_or(platform::IdCancel);
}

}  // namespace cli
