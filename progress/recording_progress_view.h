// A progress view without a window or a thread: it records what each
// ProgressWindow would have shown, with the clock's time, so that tests can
// assert it to the millisecond and the command line can draw its own progress
// from it through the observer.
//
// Threads are simulated: Start takes the thread's reference and Finish gives
// it back at once, unless a test has asked for a thread that fails to start,
// that is slow to show its window, or that does not end when asked.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/progress_view.h"

namespace progress {

struct ProgressEvent {
  enum class Kind { Open, Text, Position, Close };
  Kind kind = Kind::Open;
  int window = 0;        // 1 for the first window started, 2 for the next, ...
  std::uint32_t at = 0;  // clock time of the event
  // Open:
  std::uint32_t mode = 0;
  platform::WindowHandle owner = nullptr;
  std::vector<std::string> lines;
  // Text: the stored status text (at most 127 characters) and its hold.
  std::string text;
  std::uint32_t holdMs = 0;
  // Position:
  std::uint32_t position = 0;
  std::uint32_t total = 0;
};

class RecordingProgressView final : public platform::ProgressView {
 public:
  bool Start(ProgressWindow& window) override;
  void WaitReady(ProgressWindow& window, std::uint32_t timeoutMs) override;
  void Repaint(ProgressWindow& window, platform::ProgressChange change) override;
  bool Finish(ProgressWindow& window, std::uint32_t timeoutMs) override;
  void Release(ProgressWindow& window) override;

  // Simulated faults, for the next windows opened.
  void FailNextStarts(int count);         // no thread can be started
  void NeverReadyNextWindows(int count);  // the open's wait runs out (on the clock)
  void HangNextWindows(int count);        // the thread does not end on Finish
  // Ends every hung thread: each gives back its reference to its record.
  void EndHungThreads();

  // Called with every event as it is recorded, outside the view's lock.
  void SetObserver(std::function<void(const ProgressEvent&)> observer);

  std::vector<ProgressEvent> Events() const;
  int Started() const;   // every record handed to Start, started or not
  int Released() const;  // records freed
  int Live() const { return Started() - Released(); }

 private:
  struct Simulated {
    int id;
    bool neverReady;
    bool hangs;
  };
  Simulated Find(const ProgressWindow& window) const;
  void Record(const ProgressEvent& event);

  mutable std::mutex mutex_;
  std::vector<ProgressEvent> events_;
  std::function<void(const ProgressEvent&)> observer_;
  std::map<const ProgressWindow*, Simulated> threads_;  // started, not yet released
  std::vector<ProgressWindow*> hung_;
  int failStarts_ = 0;
  int neverReady_ = 0;
  int hang_ = 0;
  int started_ = 0;
  int nextId_ = 1;
  int released_ = 0;
};

}  // namespace progress
