// Only Windows' own DLLs. A DLL that is not one of Windows' known DLLs is
// looked for in the program's folder first when a program imports it or
// loads it by name, so a winmm.dll lying beside the program in a Downloads
// folder would run inside it (DLL planting). GNU ld cannot mark an import to
// be looked for elsewhere, so the programs do not import winmm: Winmm()
// loads it from the system folder and finds its functions by name. And the
// first thing each program does is LoadDllsFromSystemFolderOnly(), which
// keeps every later load by name to the system folder too, the program's own
// and those system DLLs make on its behalf (winmm's MIDI drivers, the visual
// styles). The common controls come through the manifest's side-by-side
// assembly, which the loader looks up before any folder; kernel32, user32,
// gdi32 and msvcrt are known DLLs.
#pragma once

#include <windows.h>
#include <mmsystem.h>

namespace win32 {

// Called first thing in a program's entry, before any DLL is loaded by name.
void LoadDllsFromSystemFolderOnly();

// The winmm functions the programs use, by their winmm names. Without winmm
// (or one of them) the counts are 0 and every other call answers
// MMSYSERR_NODRIVER, as winmm itself does without a MIDI driver.
struct WinmmFunctions {
  decltype(&::midiInGetNumDevs) midiInGetNumDevs;
  decltype(&::midiOutGetNumDevs) midiOutGetNumDevs;
  decltype(&::midiInGetDevCapsA) midiInGetDevCapsA;
  decltype(&::midiOutGetDevCapsA) midiOutGetDevCapsA;
  decltype(&::midiInOpen) midiInOpen;
  decltype(&::midiInPrepareHeader) midiInPrepareHeader;
  decltype(&::midiInUnprepareHeader) midiInUnprepareHeader;
  decltype(&::midiInAddBuffer) midiInAddBuffer;
  decltype(&::midiInStart) midiInStart;
  decltype(&::midiInStop) midiInStop;
  decltype(&::midiInReset) midiInReset;
  decltype(&::midiInClose) midiInClose;
  decltype(&::midiOutOpen) midiOutOpen;
  decltype(&::midiOutPrepareHeader) midiOutPrepareHeader;
  decltype(&::midiOutUnprepareHeader) midiOutUnprepareHeader;
  decltype(&::midiOutLongMsg) midiOutLongMsg;
  decltype(&::midiOutReset) midiOutReset;
  decltype(&::midiOutClose) midiOutClose;
  decltype(&::timeBeginPeriod) timeBeginPeriod;
  decltype(&::timeEndPeriod) timeEndPeriod;
};

// winmm from the system folder, loaded on first use, once per process.
const WinmmFunctions& Winmm();

}  // namespace win32
