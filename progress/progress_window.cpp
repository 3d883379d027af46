// The four operations on a ProgressWindow record. They run on the
// user-interface thread and wait only through the clock seam; drawing and the
// window thread are the installed platform::ProgressView's business.
#include "progress/progress_window.h"

#include <cstring>
#include <new>

#include "progress/progress_window_record.h"

namespace progress {

namespace {

// Text lines, their terminator and the spare zero that ends the list even
// when the text does not end with a line feed.
constexpr std::size_t TextSpareBytes = 2;

ProgressWindow* AllocateRecord(std::size_t textLength) {
  const std::size_t textBytes = textLength + TextSpareBytes;
  void* block = ::operator new(sizeof(ProgressWindow) + textBytes, std::nothrow);
  if (block == nullptr) return nullptr;
  std::memset(block, 0, sizeof(ProgressWindow) + textBytes);
  auto* window = new (block) ProgressWindow();
  window->textBytes = textBytes;
  return window;
}

// Sleeps on the clock seam until `until` unless it has already passed;
// signed differences keep this right across a wrap of the tick counter.
void WaitUntil(std::uint32_t until) {
  const std::int32_t remaining = platform::TickDiff(until, platform::Time().TickCount());
  if (remaining > 0) platform::Time().Sleep(static_cast<std::uint32_t>(remaining));
}

}  // namespace

ProgressWindow* OpenProgressWindow(platform::ModuleHandle module, std::uint32_t mode,
                                   platform::WindowHandle owner, const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::strlen(text);
  ProgressWindow* window = AllocateRecord(length);
  // Out of memory: nothing was changed yet, the owner stays enabled.
  if (window == nullptr) return nullptr;

  window->magic = ProgressWindowMagic;
  window->module = module;
  window->mode = mode;
  window->owner = owner;
  window->openedAt = platform::Time().TickCount();
  // No hold is pending. Zero would not do: once the tick counter is past
  // 2^31, a hold "until 0" would read as almost 25 days away.
  window->textHoldUntil = window->openedAt;
  // Without an installed view no window thread can start; the open then
  // fails as it does when the thread cannot be created.
  window->view = platform::Installed().progress;

  char* lines = window->TextArea();
  std::memcpy(lines, text, length);
  for (std::size_t i = 0; i < length; ++i) {
    if (lines[i] == '\n') lines[i] = '\0';
  }

  if (owner != nullptr) platform::Ui().EnableWindow(owner, false);

  // One reference for the caller, one for the window thread.
  window->references.store(2, std::memory_order_relaxed);
  window->threadStarted = window->view != nullptr && window->view->Start(*window);
  if (!window->threadStarted) {
    window->references.store(1, std::memory_order_relaxed);
    CloseProgressWindow(window, 0);
    return nullptr;
  }
  window->view->WaitReady(*window, ProgressReadyTimeoutMs);
  return window;
}

void SetProgressText(ProgressWindow* window, std::uint32_t holdMs, const char* text) {
  if (!IsProgressWindow(window)) return;
  WaitUntil(window->textHoldUntil);

  // Characters first, then the terminator: the last byte stays zero
  // throughout, so a concurrent paint never reads past the buffer.
  std::size_t i = 0;
  if (text != nullptr) {
    for (; i < ProgressStatusSize - 1 && text[i] != '\0'; ++i) {
      window->statusText[i].store(text[i], std::memory_order_relaxed);
    }
  }
  window->statusText[i].store('\0', std::memory_order_release);

  window->textHoldUntil = platform::Time().TickCount() + holdMs;
  window->view->Repaint(*window, platform::ProgressChange::Text);
}

void SetProgressPosition(ProgressWindow* window, std::uint32_t position, std::uint32_t total) {
  if (!IsProgressWindow(window)) return;
  window->position.store(position, std::memory_order_relaxed);
  window->total.store(total, std::memory_order_release);
  window->view->Repaint(*window, platform::ProgressChange::Position);
}

void CloseProgressWindow(ProgressWindow* window, std::uint32_t minimumDisplayMs) {
  if (!IsProgressWindow(window)) return;
  // The minimum display counts from the open; the last text's hold does not
  // keep the window up.
  WaitUntil(window->openedAt + minimumDisplayMs);

  if (window->threadStarted) {
    // A thread that has not ended in time keeps its reference and frees the
    // record when it does end; the caller goes on either way.
    window->view->Finish(*window, ProgressFinishTimeoutMs);
  }
  if (window->owner != nullptr) {
    // Clicks and keys given to the busy user-interface thread meanwhile are
    // dropped before the owner takes input again.
    platform::Ui().DiscardQueuedInput();
    platform::Ui().EnableWindow(window->owner, true);
  }
  ReleaseProgressWindowRecord(window);
}

}  // namespace progress
