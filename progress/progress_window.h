// The progress window: a small top-most window that keeps painting on a thread
// of its own while the user-interface thread is busy with MIDI start, a scan,
// the boot-loader check or an upload. This is the portable record and its four
// operations; the drawing lives behind platform::ProgressView.
#pragma once

#include <cstdint>

#include "platform/services.h"

namespace progress {

struct ProgressWindow;  // progress/progress_window_record.h

// Mode bits.
inline constexpr std::uint32_t ProgressModeBar = 1;     // progress bar
inline constexpr std::uint32_t ProgressModeStatus = 2;  // status line

// Returns none when `text` is none or the window thread cannot be started.
ProgressWindow* OpenProgressWindow(platform::ModuleHandle module, std::uint32_t mode,
                                   platform::WindowHandle owner, const char* text);
// Waits for the previous text's hold time, then shows `text` (none: empty)
// and holds it for `holdMs`.
void SetProgressText(ProgressWindow* window, std::uint32_t holdMs, const char* text);
// Never blocks.
void SetProgressPosition(ProgressWindow* window, std::uint32_t position, std::uint32_t total);
// Keeps the window up until `minimumDisplayMs` after its opening, then closes
// it, re-enables the owner and frees the record.
void CloseProgressWindow(ProgressWindow* window, std::uint32_t minimumDisplayMs);

}  // namespace progress
