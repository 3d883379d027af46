#include <windows.h>

#include "cli/system_platform.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/midi_driver_win32.h"

namespace cli {

std::unique_ptr<platform::MidiDriver> MakeSystemMidiDriver(MidiApi, std::string&) {
  return std::make_unique<win32::WinmmMidiDriver>();
}

std::unique_ptr<platform::Clock> MakeSystemClock() { return std::make_unique<win32::Win32Clock>(); }

platform::ModuleHandle SystemModule() { return GetModuleHandleA(nullptr); }

}  // namespace cli
