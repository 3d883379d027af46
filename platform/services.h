// Which platform the portable layers talk to. The Windows program installs the
// Win32 implementations at start; tests, the simulated build and the command
// line's dry run install the simulated ones. Installed once, before any other
// thread exists, and read-only afterwards.
#pragma once

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/midi_driver.h"

namespace platform {

class ProgressView;  // platform/progress_view.h

using ModuleHandle = void*;

struct Services {
  ModuleHandle module = nullptr;  // the program's module instance
  MidiDriver* midi = nullptr;
  Clock* clock = nullptr;
  Dialogs* dialogs = nullptr;
  ProgressView* progress = nullptr;
};

// Defined here, not in a source file of its own: the registry is one record.
inline Services InstalledServices;
inline void Install(const Services& services) { InstalledServices = services; }
inline const Services& Installed() { return InstalledServices; }

inline MidiDriver& Midi() { return *Installed().midi; }
inline Clock& Time() { return *Installed().clock; }
inline Dialogs& Ui() { return *Installed().dialogs; }
inline ProgressView& Progress() { return *Installed().progress; }

}  // namespace platform
