// winmm behind the MIDI driver seam. The seam's records are laid out exactly
// like winmm's (checked below), so headers and capability records go to
// winmm as they are, and the callback's signature is winmm's MidiInProc /
// MidiOutProc. The header size passed is sizeof(MIDIHDR): 64 bytes in a
// 32-bit build, 112 in a 64-bit one. winmm itself comes from the system
// folder only (Winmm(), system_dlls_win32.h).
#include "platform/win32/midi_driver_win32.h"

#include <windows.h>
#include <cstddef>
#include <mmsystem.h>

#include "platform/win32/system_dlls_win32.h"

namespace win32 {
namespace {

using platform::MidiHeader;
using platform::MidiInCaps;
using platform::MidiOutCaps;

static_assert(sizeof(MidiHeader) == sizeof(MIDIHDR));
static_assert(offsetof(MidiHeader, lpData) == offsetof(MIDIHDR, lpData));
static_assert(offsetof(MidiHeader, dwBufferLength) == offsetof(MIDIHDR, dwBufferLength));
static_assert(offsetof(MidiHeader, dwBytesRecorded) == offsetof(MIDIHDR, dwBytesRecorded));
static_assert(offsetof(MidiHeader, dwUser) == offsetof(MIDIHDR, dwUser));
static_assert(offsetof(MidiHeader, dwFlags) == offsetof(MIDIHDR, dwFlags));
static_assert(offsetof(MidiHeader, lpNext) == offsetof(MIDIHDR, lpNext));
static_assert(offsetof(MidiHeader, reserved) == offsetof(MIDIHDR, reserved));
static_assert(offsetof(MidiHeader, dwOffset) == offsetof(MIDIHDR, dwOffset));
static_assert(offsetof(MidiHeader, dwReserved) == offsetof(MIDIHDR, dwReserved));
static_assert(sizeof(MidiHeader::dwReserved) == sizeof(MIDIHDR::dwReserved));

static_assert(sizeof(MidiInCaps) == sizeof(MIDIINCAPSA));
static_assert(offsetof(MidiInCaps, wMid) == offsetof(MIDIINCAPSA, wMid));
static_assert(offsetof(MidiInCaps, wPid) == offsetof(MIDIINCAPSA, wPid));
static_assert(offsetof(MidiInCaps, vDriverVersion) == offsetof(MIDIINCAPSA, vDriverVersion));
static_assert(offsetof(MidiInCaps, szPname) == offsetof(MIDIINCAPSA, szPname));
static_assert(sizeof(MidiInCaps::szPname) == sizeof(MIDIINCAPSA::szPname));
static_assert(offsetof(MidiInCaps, dwSupport) == offsetof(MIDIINCAPSA, dwSupport));

static_assert(sizeof(MidiOutCaps) == sizeof(MIDIOUTCAPSA));
static_assert(offsetof(MidiOutCaps, wMid) == offsetof(MIDIOUTCAPSA, wMid));
static_assert(offsetof(MidiOutCaps, wPid) == offsetof(MIDIOUTCAPSA, wPid));
static_assert(offsetof(MidiOutCaps, vDriverVersion) == offsetof(MIDIOUTCAPSA, vDriverVersion));
static_assert(offsetof(MidiOutCaps, szPname) == offsetof(MIDIOUTCAPSA, szPname));
static_assert(sizeof(MidiOutCaps::szPname) == sizeof(MIDIOUTCAPSA::szPname));
static_assert(offsetof(MidiOutCaps, wTechnology) == offsetof(MIDIOUTCAPSA, wTechnology));
static_assert(offsetof(MidiOutCaps, wVoices) == offsetof(MIDIOUTCAPSA, wVoices));
static_assert(offsetof(MidiOutCaps, wNotes) == offsetof(MIDIOUTCAPSA, wNotes));
static_assert(offsetof(MidiOutCaps, wChannelMask) == offsetof(MIDIOUTCAPSA, wChannelMask));
static_assert(offsetof(MidiOutCaps, dwSupport) == offsetof(MIDIOUTCAPSA, dwSupport));

static_assert(platform::MimLongData == MIM_LONGDATA && platform::MimLongError == MIM_LONGERROR &&
              platform::MomDone == MOM_DONE && platform::MimData == MIM_DATA);
static_assert(platform::MhdrDone == MHDR_DONE && platform::MhdrPrepared == MHDR_PREPARED &&
              platform::MhdrInQueue == MHDR_INQUEUE);

// The seam's callback is winmm's: (handle, message, instance, param1, param2),
// CALLBACK calling convention, all parameters pointer-sized but the message.
static_assert(sizeof(std::uintptr_t) == sizeof(DWORD_PTR));
static_assert(sizeof(std::uint32_t) == sizeof(UINT));

constexpr UINT HeaderSize = sizeof(MIDIHDR);

MIDIHDR* Native(MidiHeader* header) { return reinterpret_cast<MIDIHDR*>(header); }
HMIDIIN In(platform::MidiHandle handle) { return static_cast<HMIDIIN>(handle); }
HMIDIOUT Out(platform::MidiHandle handle) { return static_cast<HMIDIOUT>(handle); }

}  // namespace

std::uint32_t WinmmMidiDriver::InGetNumDevs() { return Winmm().midiInGetNumDevs(); }
std::uint32_t WinmmMidiDriver::OutGetNumDevs() { return Winmm().midiOutGetNumDevs(); }

std::uint32_t WinmmMidiDriver::InGetDevCaps(std::uint32_t index, MidiInCaps* caps) {
  return Winmm().midiInGetDevCapsA(index, reinterpret_cast<MIDIINCAPSA*>(caps),
                                   sizeof(MIDIINCAPSA));
}

std::uint32_t WinmmMidiDriver::OutGetDevCaps(std::uint32_t index, MidiOutCaps* caps) {
  return Winmm().midiOutGetDevCapsA(index, reinterpret_cast<MIDIOUTCAPSA*>(caps),
                                    sizeof(MIDIOUTCAPSA));
}

std::uint32_t WinmmMidiDriver::InOpen(platform::MidiHandle* handle, std::uint32_t index,
                                      platform::MidiCallback callback, std::uintptr_t instance) {
  HMIDIIN opened = nullptr;
  const MMRESULT result = Winmm().midiInOpen(&opened, index, reinterpret_cast<DWORD_PTR>(callback),
                                             instance, CALLBACK_FUNCTION);
  if (result == MMSYSERR_NOERROR) *handle = opened;
  return result;
}

std::uint32_t WinmmMidiDriver::InPrepareHeader(platform::MidiHandle handle, MidiHeader* header) {
  return Winmm().midiInPrepareHeader(In(handle), Native(header), HeaderSize);
}
std::uint32_t WinmmMidiDriver::InUnprepareHeader(platform::MidiHandle handle, MidiHeader* header) {
  return Winmm().midiInUnprepareHeader(In(handle), Native(header), HeaderSize);
}
std::uint32_t WinmmMidiDriver::InAddBuffer(platform::MidiHandle handle, MidiHeader* header) {
  return Winmm().midiInAddBuffer(In(handle), Native(header), HeaderSize);
}
std::uint32_t WinmmMidiDriver::InStart(platform::MidiHandle handle) {
  return Winmm().midiInStart(In(handle));
}
std::uint32_t WinmmMidiDriver::InStop(platform::MidiHandle handle) {
  return Winmm().midiInStop(In(handle));
}
std::uint32_t WinmmMidiDriver::InReset(platform::MidiHandle handle) {
  return Winmm().midiInReset(In(handle));
}
std::uint32_t WinmmMidiDriver::InClose(platform::MidiHandle handle) {
  return Winmm().midiInClose(In(handle));
}

std::uint32_t WinmmMidiDriver::OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                                       platform::MidiCallback callback, std::uintptr_t instance) {
  HMIDIOUT opened = nullptr;
  const MMRESULT result = Winmm().midiOutOpen(&opened, index, reinterpret_cast<DWORD_PTR>(callback),
                                              instance, CALLBACK_FUNCTION);
  if (result == MMSYSERR_NOERROR) *handle = opened;
  return result;
}

std::uint32_t WinmmMidiDriver::OutPrepareHeader(platform::MidiHandle handle, MidiHeader* header) {
  return Winmm().midiOutPrepareHeader(Out(handle), Native(header), HeaderSize);
}
std::uint32_t WinmmMidiDriver::OutUnprepareHeader(platform::MidiHandle handle, MidiHeader* header) {
  return Winmm().midiOutUnprepareHeader(Out(handle), Native(header), HeaderSize);
}
std::uint32_t WinmmMidiDriver::OutLongMsg(platform::MidiHandle handle, MidiHeader* header) {
  return Winmm().midiOutLongMsg(Out(handle), Native(header), HeaderSize);
}
std::uint32_t WinmmMidiDriver::OutReset(platform::MidiHandle handle) {
  return Winmm().midiOutReset(Out(handle));
}
std::uint32_t WinmmMidiDriver::OutClose(platform::MidiHandle handle) {
  return Winmm().midiOutClose(Out(handle));
}

}  // namespace win32
