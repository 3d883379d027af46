// winekfmidi.drv: a user-mode MIDI driver for Wine with the virtual Tarvonic
// behind it, so that the shipped Windows programs can be tested end to end
// through Wine's own winmm, in the driver behaviours real users meet.
//
// Installed by driver.sh install: the DLL in the prefix's system32 as
// winekfmidi.drv and HKCU\Software\Wine\Drivers "Audio" = "kfmidi". Wine's
// audio device layer loads the driver it names only when it exports the four
// mmdevapi entry points at the end of this file; winmm then opens it as an
// installable driver (DriverProc) and finds its ports through modMessage and
// midMessage. Without KF_WINE_MIDI it behaves as a plain winmm driver:
// callbacks from a thread of its own (open and close, resets and sync-done
// on the calling thread), MOM_DONE after the DIN wire time, input buffers
// back at F7 or when full.
//
// Ports (winmm device indexes):
//   input 0   "MIDI Interface A In"    what the instrument sends
//   output 0  "MIDI Interface A Out"   to the instrument
//   input 1   "Loopback MIDI In"       what output 1 sent, after the wire time
//   output 1  "Loopback MIDI Out"
//   output 2  "Wavetable Synth A"      MOD_WAVETABLE, so the Ports page
//                                      disables it by default; it hears nothing
// The instrument is `kelmora-flash --virtual`'s, on the real clock
// (emulator/real_time_instrument.h), from the first open to the process end.
//
// KF_WINE_MIDI chooses behaviours for one run, comma-separated; the driver
// reads it once per process, when first used. The MIDI world's behaviours
// and the drivers' quirks, in the table and syntax of
// platform/sim/world_behaviours.h (shared, busy-in, traffic=KIND+..,
// blocking-out, early-input, drop-byte=K, unplug=N[+error], replug=S;
// split=N, sync-done, notready=K, longerror=P), on the instrument's port
// pair, and the instrument's own settings:
//   faults=RATES  its faults in the syntax of kelmora-flash --faults, with
//                 ';' or '+' between settings since commas separate
//                 behaviours: faults=seed=3;drop=0.02;code4=0.01
//   firmware=PATH it writes the plain firmware it rebuilt there (raw bytes;
//                 a Windows path without commas) whenever the program
//                 closes its output: Wine 8 gives a driver no word at
//                 process end
// A setting the driver does not know, or a malformed one, is refused on
// stderr and the driver offers no ports. Whenever the program closes the
// instrument's output the driver says on stderr what each behaviour did
// ("winekfmidi: world: ...") and what the instrument heard.
#include "tests/wine/midi_driver/driver.h"


#define KF_EXPORT extern "C" __declspec(dllexport)

namespace {

// No exception may reach winmm. (The driver throws none of its own: what
// could come is memory running out, or a thread that cannot start.)
template <typename Call>
DWORD Guarded(Call call) {
  try {
    return call();
  } catch (...) {
    return MMSYSERR_NOMEM;
  }
}

}  // namespace

KF_EXPORT LRESULT CALLBACK DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM param1,
                                      LPARAM param2) {
  switch (message) {
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_FREE: return 1;  // the driver lives as long as the process: see driver.h
    default: return DefDriverProc(id, driver, message, param1, param2);
  }
}

KF_EXPORT DWORD WINAPI modMessage(UINT device, UINT message, DWORD_PTR /*user*/, DWORD_PTR param1,
                                  DWORD_PTR param2) {
  return Guarded([=] { return kfmidi::Driver::Instance().OutMessage(device, message, param1, param2); });
}

KF_EXPORT DWORD WINAPI midMessage(UINT device, UINT message, DWORD_PTR /*user*/, DWORD_PTR param1,
                                  DWORD_PTR param2) {
  return Guarded([=] { return kfmidi::Driver::Instance().InMessage(device, message, param1, param2); });
}

// What Wine 8's mmdevapi asks of every driver it may select. No audio
// endpoints: this driver has MIDI ports only. The interface types are
// IMMDevice, IAudioClient and IAudioSessionManager2.
KF_EXPORT int WINAPI GetPriority() { return 3; }  // Priority_Preferred

KF_EXPORT HRESULT WINAPI GetEndpointIDs(int /*EDataFlow*/, WCHAR*** ids, GUID** guids, UINT* count,
                                        UINT* defaultIndex) {
  *ids = nullptr;
  *guids = nullptr;
  *count = 0;
  *defaultIndex = 0;
  return S_OK;
}

KF_EXPORT HRESULT WINAPI GetAudioEndpoint(void* /*key*/, void* /*device*/, void** /*client*/) { return E_NOTIMPL; }

KF_EXPORT HRESULT WINAPI GetAudioSessionManager(void* /*device*/, void** /*manager*/) { return E_NOTIMPL; }
