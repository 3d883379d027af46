#include "progress/recording_progress_view.h"

#include <utility>

#include "platform/services.h"
#include "progress/progress_window_record.h"

namespace progress {
namespace {

ProgressEvent MakeEvent(ProgressEvent::Kind kind) {
  ProgressEvent event;
  event.kind = kind;
  event.at = platform::Time().TickCount();
  return event;
}

}  // namespace

bool RecordingProgressView::Start(ProgressWindow& window) {
  ProgressEvent event = MakeEvent(ProgressEvent::Kind::Open);
  {
    std::lock_guard lock(mutex_);
    ++started_;
    if (failStarts_ > 0) {
      --failStarts_;
      return false;
    }
    Simulated thread{nextId_++, neverReady_ > 0, hang_ > 0};
    if (neverReady_ > 0) --neverReady_;
    if (hang_ > 0) --hang_;
    threads_[&window] = thread;
    event.window = thread.id;
  }
  event.mode = window.mode;
  event.owner = window.owner;
  for (std::string_view line : ProgressTextLines(window)) event.lines.emplace_back(line);
  Record(event);
  return true;
}

void RecordingProgressView::WaitReady(ProgressWindow& window, std::uint32_t timeoutMs) {
  // A window that does not come up lets the open wait its whole budget.
  if (Find(window).neverReady) platform::Time().Sleep(timeoutMs);
}

void RecordingProgressView::Repaint(ProgressWindow& window, platform::ProgressChange change) {
  ProgressEvent event =
      MakeEvent(change == platform::ProgressChange::Text ? ProgressEvent::Kind::Text
                                                         : ProgressEvent::Kind::Position);
  event.window = Find(window).id;
  if (change == platform::ProgressChange::Text) {
    char status[ProgressStatusSize];
    ReadProgressStatus(window, status);
    event.text = status;
    event.holdMs = window.textHoldUntil - event.at;
  } else {
    event.position = window.position.load(std::memory_order_relaxed);
    event.total = window.total.load(std::memory_order_relaxed);
  }
  Record(event);
}

bool RecordingProgressView::Finish(ProgressWindow& window, std::uint32_t /*timeoutMs*/) {
  window.closeRequested.store(true);
  ProgressEvent event = MakeEvent(ProgressEvent::Kind::Close);
  const Simulated thread = Find(window);
  event.window = thread.id;
  const bool hangs = thread.hangs;
  if (hangs) {
    std::lock_guard lock(mutex_);
    hung_.push_back(&window);
  }
  Record(event);
  if (hangs) return false;
  // The simulated thread ends at once and gives its reference back.
  ReleaseProgressWindowRecord(&window);
  return true;
}

void RecordingProgressView::Release(ProgressWindow& window) {
  std::lock_guard lock(mutex_);
  ++released_;
  threads_.erase(&window);
}

void RecordingProgressView::FailNextStarts(int count) {
  std::lock_guard lock(mutex_);
  failStarts_ = count;
}

void RecordingProgressView::NeverReadyNextWindows(int count) {
  std::lock_guard lock(mutex_);
  neverReady_ = count;
}

void RecordingProgressView::HangNextWindows(int count) {
  std::lock_guard lock(mutex_);
  hang_ = count;
}

void RecordingProgressView::EndHungThreads() {
  std::vector<ProgressWindow*> hung;
  {
    std::lock_guard lock(mutex_);
    hung.swap(hung_);
  }
  for (ProgressWindow* window : hung) ReleaseProgressWindowRecord(window);
}

void RecordingProgressView::SetObserver(std::function<void(const ProgressEvent&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

std::vector<ProgressEvent> RecordingProgressView::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

int RecordingProgressView::Started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

int RecordingProgressView::Released() const {
  std::lock_guard lock(mutex_);
  return released_;
}

RecordingProgressView::Simulated RecordingProgressView::Find(const ProgressWindow& window) const {
  std::lock_guard lock(mutex_);
  const auto found = threads_.find(&window);
  return found != threads_.end() ? found->second : Simulated{0, false, false};
}

void RecordingProgressView::Record(const ProgressEvent& event) {
  std::function<void(const ProgressEvent&)> observer;
  {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    observer = observer_;
  }
  if (observer) observer(event);
}

}  // namespace progress
