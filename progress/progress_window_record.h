// The ProgressWindow record, shared by the user-interface thread (which sets
// texts and positions) and the window thread (which paints them). Fields that
// both threads touch are atomics without a lock: a paint that overlaps an
// update shows at worst a mixture of old and new text once, and the repaint
// that the update requests then shows the new one. The last status byte is
// always zero, so a reader never runs past the buffer.
//
// One block holds the record and, right behind it, the text lines: the open's
// text with every line feed turned into a zero byte, followed by at least two
// more zero bytes, so the list of lines always ends with an empty one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"
#include "platform/progress_view.h"
#include "platform/services.h"

namespace progress {

inline constexpr std::uint32_t ProgressWindowMagic = 0x53707368;  // "hspS" in memory
inline constexpr std::size_t ProgressStatusSize = 128;            // 127 characters and a zero
inline constexpr std::uint32_t ProgressReadyTimeoutMs = 1000;
inline constexpr std::uint32_t ProgressFinishTimeoutMs = 10000;

struct ProgressRect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

struct ProgressWindow {
  std::uint32_t magic;
  platform::ModuleHandle module;
  std::uint32_t openedAt;
  std::uint32_t textHoldUntil;  // caller thread only
  std::atomic<std::uint32_t> position;
  std::atomic<std::uint32_t> total;  // 0: no bar drawn
  std::uint32_t mode;
  std::atomic<std::int32_t> lineHeight;        // set by the window thread
  std::atomic<platform::WindowHandle> window;  // none before creation and after the loop
  platform::WindowHandle owner;
  ProgressRect clientRect;  // window thread only
  void* font;               // view-owned, window thread only
  void* bandBrush;          // view-owned, window thread only
  void* thread;             // view-owned
  void* ready;              // view-owned
  std::atomic<char> statusText[ProgressStatusSize];

  // Bookkeeping of this implementation: which view runs the record, whether
  // its thread was started, whether a close was asked for (a window created
  // after that closes itself), and the references of caller and thread.
  platform::ProgressView* view;
  bool threadStarted;
  std::atomic<bool> closeRequested;
  std::atomic<int> references;
  std::size_t textBytes;  // size of the text-lines area behind the record

  char* TextArea() { return reinterpret_cast<char*>(this + 1); }
  const char* TextArea() const { return reinterpret_cast<const char*>(this + 1); }
};

// A handle is usable when it is not none and carries the magic.
inline bool IsProgressWindow(const ProgressWindow* window) {
  return window != nullptr && window->magic == ProgressWindowMagic;
}

// The fixed text lines: successive zero-terminated strings up to the first
// empty one.
inline std::vector<std::string_view> ProgressTextLines(const ProgressWindow& window) {
  std::vector<std::string_view> lines;
  const char* p = window.TextArea();
  const char* const end = p + window.textBytes;
  while (p < end && *p != '\0') {
    const void* zero = std::memchr(p, '\0', static_cast<std::size_t>(end - p));
    const std::size_t length = zero != nullptr
                                   ? static_cast<std::size_t>(static_cast<const char*>(zero) - p)
                                   : static_cast<std::size_t>(end - p);
    lines.emplace_back(p, length);
    p += length + 1;
  }
  return lines;
}

// Copies the status text into `out`, always zero-terminated.
inline void ReadProgressStatus(const ProgressWindow& window, char (&out)[ProgressStatusSize]) {
  for (std::size_t i = 0; i < ProgressStatusSize; ++i) {
    out[i] = window.statusText[i].load(std::memory_order_relaxed);
  }
  out[ProgressStatusSize - 1] = '\0';
}

// Drops one reference; the last one lets the view release its handles, then
// frees the block. The magic is cleared first so that a stale handle to a
// block that happens to stay mapped is no longer taken for a window.
inline void ReleaseProgressWindowRecord(ProgressWindow* window) {
  if (window->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (window->view != nullptr) window->view->Release(*window);
  window->magic = 0;
  window->~ProgressWindow();
  ::operator delete(static_cast<void*>(window));
}

}  // namespace progress
