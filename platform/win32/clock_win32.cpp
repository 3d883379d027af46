// Real time on Windows. The default timer tick of 15.6 ms would stretch every
// 20 ms pacing pause to about 31 ms, so the transport asks for 1 ms
// resolution while it is up (timeBeginPeriod and timeEndPeriod must pair).
#include "platform/win32/clock_win32.h"

#include <windows.h>
#include <mmsystem.h>

#include "platform/win32/system_dlls_win32.h"

namespace win32 {
namespace {
constexpr UINT FinePeriodMs = 1;
}

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }
std::uint32_t Win32Clock::TickCount() { return ::GetTickCount(); }
void Win32Clock::BeginFineResolution() { Winmm().timeBeginPeriod(FinePeriodMs); }
void Win32Clock::EndFineResolution() { Winmm().timeEndPeriod(FinePeriodMs); }

}  // namespace win32
