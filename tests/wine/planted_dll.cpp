// A DLL no program may load: planted beside the shipped programs under the
// names of DLLs they use (winmm.dll, comctl32.dll, the MIDI driver for Wine),
// it leaves "<its own path>.loaded" in any process that loads it. It exports
// stand-ins for what the programs imported from winmm and comctl32, so that
// a program that imports it still starts, and the mark tells.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8] = {};
  const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(path, L".loaded");
  const HANDLE mark =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}

// Each fails, whatever it is given (x64 has one calling convention, and the
// caller clears the arguments): 6, MMSYSERR_NODRIVER, or as many devices.
#define KF_STAND_IN(name) \
  extern "C" __declspec(dllexport) UINT_PTR name() { return 6; }
// clang-format off
KF_STAND_IN(midiInGetNumDevs) KF_STAND_IN(midiOutGetNumDevs) KF_STAND_IN(midiInGetDevCapsA)
KF_STAND_IN(midiOutGetDevCapsA) KF_STAND_IN(midiInOpen) KF_STAND_IN(midiInPrepareHeader)
KF_STAND_IN(midiInUnprepareHeader) KF_STAND_IN(midiInAddBuffer) KF_STAND_IN(midiInStart)
KF_STAND_IN(midiInStop) KF_STAND_IN(midiInReset) KF_STAND_IN(midiInClose) KF_STAND_IN(midiOutOpen)
KF_STAND_IN(midiOutPrepareHeader) KF_STAND_IN(midiOutUnprepareHeader) KF_STAND_IN(midiOutLongMsg)
KF_STAND_IN(midiOutReset) KF_STAND_IN(midiOutClose) KF_STAND_IN(timeBeginPeriod)
KF_STAND_IN(timeEndPeriod) KF_STAND_IN(CreatePropertySheetPageA) KF_STAND_IN(ImageList_Create)
KF_STAND_IN(ImageList_ReplaceIcon) KF_STAND_IN(InitCommonControlsEx) KF_STAND_IN(PropertySheetA)
// clang-format on
