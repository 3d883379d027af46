// The real platform: winmm, the system clock, user32 dialogs and the
// progress window's own thread.
#include "app/platform_install.h"
#include "platform/services.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/dialogs_win32.h"
#include "platform/win32/midi_driver_win32.h"
#include "ui/win32_ui.h"

void InstallPlatform(HINSTANCE instance) {
  static win32::WinmmMidiDriver midi;
  static win32::Win32Clock clock;
  static win32::Win32Dialogs dialogs;
  platform::Install({.module = instance,
                     .midi = &midi,
                     .clock = &clock,
                     .dialogs = &dialogs,
                     .progress = &ui::Win32ProgressView()});
}
