// Loading DLLs from the system folder only (platform/win32/system_dlls_win32.h).
#include "platform/win32/system_dlls_win32.h"

namespace win32 {
namespace {

// What a function that could not be found answers.
template <typename Function>
struct Missing;
template <typename Result, typename... Args>
struct Missing<Result(WINAPI*)(Args...)> {
  static Result WINAPI Call(Args...) { return MMSYSERR_NODRIVER; }
};
UINT WINAPI NoDevices() { return 0; }

// `name` of `module`, or `missing`. Through void (*)(): the one function type
// any other converts from without a warning.
template <typename Function>
void Find(HMODULE module, const char* name, Function& function, Function missing) {
  const FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
  function =
      found != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found)) : missing;
}
template <typename Function>
void Find(HMODULE module, const char* name, Function& function) {
  Find(module, name, function, &Missing<Function>::Call);
}

WinmmFunctions Load() {
  // The flag keeps the search, for winmm and the DLLs it imports, to the
  // system folder, whatever the process's default.
  const HMODULE winmm = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  WinmmFunctions w{};
  Find(winmm, "midiInGetNumDevs", w.midiInGetNumDevs, &NoDevices);
  Find(winmm, "midiOutGetNumDevs", w.midiOutGetNumDevs, &NoDevices);
  Find(winmm, "midiInGetDevCapsA", w.midiInGetDevCapsA);
  Find(winmm, "midiOutGetDevCapsA", w.midiOutGetDevCapsA);
  Find(winmm, "midiInOpen", w.midiInOpen);
  Find(winmm, "midiInPrepareHeader", w.midiInPrepareHeader);
  Find(winmm, "midiInUnprepareHeader", w.midiInUnprepareHeader);
  Find(winmm, "midiInAddBuffer", w.midiInAddBuffer);
  Find(winmm, "midiInStart", w.midiInStart);
  Find(winmm, "midiInStop", w.midiInStop);
  Find(winmm, "midiInReset", w.midiInReset);
  Find(winmm, "midiInClose", w.midiInClose);
  Find(winmm, "midiOutOpen", w.midiOutOpen);
  Find(winmm, "midiOutPrepareHeader", w.midiOutPrepareHeader);
  Find(winmm, "midiOutUnprepareHeader", w.midiOutUnprepareHeader);
  Find(winmm, "midiOutLongMsg", w.midiOutLongMsg);
  Find(winmm, "midiOutReset", w.midiOutReset);
  Find(winmm, "midiOutClose", w.midiOutClose);
  Find(winmm, "timeBeginPeriod", w.timeBeginPeriod);
  Find(winmm, "timeEndPeriod", w.timeEndPeriod);
  return w;
}

}  // namespace

void LoadDllsFromSystemFolderOnly() {
  // Looked up rather than imported: a Windows without it (7 before update
  // KB2533623) still starts, and also refuses LOAD_LIBRARY_SEARCH_SYSTEM32,
  // so that it runs without winmm rather than with a planted one.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  SetDefaultDllDirectoriesFunction restrict = nullptr;
  Find(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories", restrict,
       SetDefaultDllDirectoriesFunction{});
  if (restrict != nullptr) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

const WinmmFunctions& Winmm() {
  static const WinmmFunctions functions = Load();
  return functions;
}

}  // namespace win32
