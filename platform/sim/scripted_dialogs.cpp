#include "platform/sim/scripted_dialogs.h"

namespace sim {

int ScriptedDialogs::MessageBox(platform::WindowHandle owner, const char* text,
                                const char* caption, std::uint32_t flags) {
  BoxRecord box{owner, caption ? caption : "", text ? text : "", flags, defaultAnswer_};
  std::function<int(const BoxRecord&)> responder;
  {
    std::lock_guard lock(mutex_);
    if (!script_.empty()) {
      box.answer = script_.front();
      script_.pop_front();
    } else {
      responder = responder_;
    }
  }
  // The responder runs unlocked: it may itself query this object.
  if (responder) box.answer = responder(box);
  std::lock_guard lock(mutex_);
  boxes_.push_back(box);
  return box.answer;
}

void ScriptedDialogs::EnableWindow(platform::WindowHandle window, bool enable) {
  std::lock_guard lock(mutex_);
  enables_.emplace_back(window, enable);
}

bool ScriptedDialogs::EscapeHeld() {
  std::function<bool()> escape;
  {
    std::lock_guard lock(mutex_);
    ++escapeQueries_;
    escape = escape_;
  }
  return escape && escape();
}

void ScriptedDialogs::DiscardQueuedInput() {
  std::lock_guard lock(mutex_);
  ++inputDiscards_;
}

void ScriptedDialogs::Answer(int button) {
  std::lock_guard lock(mutex_);
  script_.push_back(button);
}

void ScriptedDialogs::SetDefaultAnswer(int button) {
  std::lock_guard lock(mutex_);
  defaultAnswer_ = button;
}

void ScriptedDialogs::SetResponder(std::function<int(const BoxRecord&)> responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void ScriptedDialogs::SetEscape(std::function<bool()> held) {
  std::lock_guard lock(mutex_);
  escape_ = std::move(held);
}

std::vector<BoxRecord> ScriptedDialogs::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::pair<platform::WindowHandle, bool>> ScriptedDialogs::EnableCalls() const {
  std::lock_guard lock(mutex_);
  return enables_;
}

int ScriptedDialogs::EscapeQueries() const {
  std::lock_guard lock(mutex_);
  return escapeQueries_;
}

int ScriptedDialogs::InputDiscards() const {
  std::lock_guard lock(mutex_);
  return inputDiscards_;
}

}  // namespace sim
