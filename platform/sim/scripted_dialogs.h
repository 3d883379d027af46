// User dialogs for tests and dry runs: message boxes are answered from a
// script (or by a responder) and every box, enable call and Escape query is
// recorded, so a scenario can assert exactly what a user would have seen.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace sim {

struct BoxRecord {
  platform::WindowHandle owner;
  std::string caption;
  std::string text;
  std::uint32_t flags;
  int answer;
};

class ScriptedDialogs final : public platform::Dialogs {
 public:
  int MessageBox(platform::WindowHandle owner, const char* text, const char* caption,
                 std::uint32_t flags) override;
  void EnableWindow(platform::WindowHandle window, bool enable) override;
  bool EscapeHeld() override;
  void DiscardQueuedInput() override;
  bool Unattended() override { return unattended_; }

  // Answers for the next boxes, in order. When the script is empty, the
  // responder answers (if set), else the default answer.
  void Answer(int button);
  void SetDefaultAnswer(int button);
  void SetResponder(std::function<int(const BoxRecord&)> responder);
  // Escape reads as held while the predicate returns true.
  void SetEscape(std::function<bool()> held);
  // Nobody answers: a run of the command line with --yes.
  void SetUnattended(bool unattended) { unattended_ = unattended; }

  std::vector<BoxRecord> Boxes() const;
  std::vector<std::pair<platform::WindowHandle, bool>> EnableCalls() const;
  int EscapeQueries() const;
  int InputDiscards() const;

 private:
  mutable std::mutex mutex_;
  std::deque<int> script_;
  int defaultAnswer_ = platform::IdOk;
  std::function<int(const BoxRecord&)> responder_;
  std::function<bool()> escape_;
  std::vector<BoxRecord> boxes_;
  std::vector<std::pair<platform::WindowHandle, bool>> enables_;
  int escapeQueries_ = 0;
  int inputDiscards_ = 0;
  bool unattended_ = false;
};

}  // namespace sim
