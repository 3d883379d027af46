// One flash, from the user's request to the final report: version check,
// confirmations, the handler's boot-loader check and upload, the outcome box.
#pragma once

#include <cstdint>

#include "device/device_records.h"

namespace device {

// 1 when the upload succeeded, FlashInterfaceLost when the device's MIDI
// interface went away during it (the handler's box said so and what to do:
// no "Upload Error" follows), 0 in every other case. Runs on the
// user-interface thread and blocks it for the whole flash.
inline constexpr std::int32_t FlashInterfaceLost = 2;
std::int32_t RunFlashWorkflow(platform::WindowHandle owner, DetectedDevice* device);

// Asked by a program before RunFlashWorkflow for an instrument on real MIDI
// ports (not a virtual one): with the development image loaded, a box with
// OK and Cancel, Cancel the default, says what writing it would do. True when
// the image is no development image, or the user pressed OK.
bool ConfirmDevelopmentImage();

// True while a workflow runs. Its message boxes have no owner, so the page
// stays usable under them; a scan must not free the device the workflow
// holds, and a second workflow must not start inside the first one's box.
bool FlashWorkflowRunning();

// Formats with printf rules into a 5000-character buffer and shows the text in
// a message box without owner; returns the pressed button.
int ShowFormattedMessage(std::uint32_t flags, const char* caption, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Byte-wise comparison of two version texts as unsigned 8-bit values, up to
// and including the first NUL: negative, zero or positive like strcmp.
int CompareVersions(const char* a, const char* b);

}  // namespace device
