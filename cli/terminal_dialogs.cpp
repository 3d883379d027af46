#include "cli/terminal_dialogs.h"

#include <cctype>
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

int TerminalDialogs::Ask(std::uint32_t buttons) {
  if (buttons == platform::BoxOk) {
    std::fprintf(out_, "[OK]\n");
    return platform::IdOk;
  }
  const Choice choice = ChoiceFor(buttons);
  if (assumeYes_) {
    std::fprintf(out_, "%s%s (--yes)\n", choice.prompt, choice.yesWord);
    return choice.assumed;
  }
  for (;;) {
    std::fprintf(out_, "%s", choice.prompt);
    std::fflush(out_);
    std::string line;
    int c;
    while ((c = std::fgetc(in_)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    std::size_t at = 0;
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at]))) ++at;
    const char key = at < line.size() ? static_cast<char>(std::tolower(static_cast<unsigned char>(line[at]))) : 0;
    if (key == choice.firstKey) return choice.first;
    if (key == choice.secondKey) return choice.second;
    if (c == EOF) {
      std::fprintf(out_, "\n");
      return choice.second;
    }
  }
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
  const int answer = Ask(flags & ButtonMask);
  std::fflush(out_);
  if (transcript_ != nullptr) transcript_->Box(shownCaption, shownText, AnswerName(answer));
  return answer;
}

}  // namespace cli
