// The record shared with a real window thread, as the Win32 view shares it:
// the thread keeps reading texts and positions while the caller writes them,
// and a thread that ends after the close still owns a live record. Run under
// ThreadSanitizer and AddressSanitizer these catch races and early frees.
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/progress_view.h"
#include "platform/sim/scripted_dialogs.h"
#include "platform/sim/virtual_clock.h"
#include "progress/progress_window.h"
#include "progress/progress_window_record.h"

using namespace progress;

namespace {

// A view whose window thread "paints" in a loop: it reads the status text,
// position and lines until a close is asked for, and records what it saw.
class ThreadView final : public platform::ProgressView {
 public:
  bool Start(ProgressWindow& window) override {
    threads_.emplace_back([this, &window] { Run(window); });
    return true;
  }
  void WaitReady(ProgressWindow& window, std::uint32_t) override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return window.window.load() != nullptr; });
  }
  void Repaint(ProgressWindow&, platform::ProgressChange) override {}
  bool Finish(ProgressWindow& window, std::uint32_t) override {
    window.closeRequested.store(true);
    std::unique_lock lock(mutex_);
    if (!endWhenAsked) return false;  // the thread lingers: the caller must not wait
    changed_.wait(lock, [&] { return ended_ == started(); });
    return true;
  }
  void Release(ProgressWindow&) override { released.fetch_add(1); }

  void AllowLingeringThreadsToEnd() {
    {
      std::lock_guard lock(mutex_);
      endWhenAsked = true;
    }
    changed_.notify_all();
  }
  void JoinAll() {
    AllowLingeringThreadsToEnd();
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }
  ~ThreadView() override { JoinAll(); }

  bool endWhenAsked = true;
  std::atomic<int> released{0};
  std::atomic<int> paints{0};
  std::atomic<int> badStatus{0};    // last status byte seen non-zero
  std::atomic<int> badPosition{0};  // a position that was never set
  std::atomic<int> readsAfterClose{0};

 private:
  int started() const { return static_cast<int>(threads_.size()); }

  void Run(ProgressWindow& window) {
    {
      std::lock_guard lock(mutex_);
      window.window.store(&window);  // any non-none handle
    }
    changed_.notify_all();
    int afterClose = 0;
    for (;;) {
      // The writer keeps the last byte zero throughout, so a paint can never
      // run past the buffer.
      if (window.statusText[ProgressStatusSize - 1].load(std::memory_order_relaxed) != '\0') {
        badStatus.fetch_add(1);
      }
      char status[ProgressStatusSize];
      ReadProgressStatus(window, status);
      const std::uint32_t position = window.position.load(std::memory_order_relaxed);
      if (position % 7 != 0) badPosition.fetch_add(1);
      (void)ProgressTextLines(window);
      paints.fetch_add(1);
      if (window.closeRequested.load()) {
        // Keep using the record until allowed to end: it must still be alive.
        ++afterClose;
        std::unique_lock lock(mutex_);
        if (endWhenAsked) break;
        changed_.wait_for(lock, std::chrono::milliseconds(1));
      }
    }
    readsAfterClose.fetch_add(afterClose);
    window.window.store(nullptr);
    ReleaseProgressWindowRecord(&window);
    {
      std::lock_guard lock(mutex_);
      ++ended_;
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
  int ended_ = 0;
};

class ProgressWindowThreads : public ::testing::Test {
 protected:
  ProgressWindowThreads() {
    platform::Services services;
    services.clock = &clock;
    services.dialogs = &dialogs;
    services.progress = &view;
    platform::Install(services);
  }
  ~ProgressWindowThreads() override { platform::Install(platform::Services{}); }

  sim::VirtualClock clock;
  sim::ScriptedDialogs dialogs;
  ThreadView view;
};

TEST_F(ProgressWindowThreads, UpdatesWhileTheThreadPaints) {
  ProgressWindow* window = OpenProgressWindow(nullptr, 3, nullptr, "Flashing\nin Progress");
  ASSERT_NE(window, nullptr);
  const std::string texts[] = {std::string(200, 'x'), "!Retry...", "", "Block 12", "!"};
  for (std::uint32_t i = 0; i < 20000; ++i) {
    SetProgressPosition(window, 7 * i, 7 * 20000);
    SetProgressText(window, 0, texts[i % std::size(texts)].c_str());
  }
  CloseProgressWindow(window, 0);
  EXPECT_GT(view.paints.load(), 0);
  EXPECT_EQ(view.badStatus.load(), 0);
  EXPECT_EQ(view.badPosition.load(), 0);
  EXPECT_EQ(view.released.load(), 1);
}

TEST_F(ProgressWindowThreads, ThreadThatOutlivesTheCloseFreesTheRecord) {
  view.endWhenAsked = false;
  ProgressWindow* window = OpenProgressWindow(nullptr, 2, nullptr, "Initializing MIDI");
  SetProgressText(window, 50, "Port A");
  CloseProgressWindow(window, 0);  // returns although the thread goes on
  EXPECT_EQ(view.released.load(), 0);
  view.JoinAll();
  // The thread went on reading the record after the close, then freed it.
  EXPECT_GT(view.readsAfterClose.load(), 0);
  EXPECT_EQ(view.released.load(), 1);
}

TEST_F(ProgressWindowThreads, ManyWindowsOneAfterAnother) {
  for (int i = 0; i < 50; ++i) {
    ProgressWindow* window = OpenProgressWindow(nullptr, 3, nullptr, "x");
    SetProgressPosition(window, 0, 7);
    CloseProgressWindow(window, 0);
  }
  EXPECT_EQ(view.released.load(), 50);
}

}  // namespace
