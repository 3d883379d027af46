// The MIDI driver seam. It mirrors the winmm operations the transport uses, one
// for one, so that the Win32 implementation is a pass-through and the buffer
// life cycle (pool -> caller -> driver -> dispatch queue -> pool) stays visible
// in the portable code. The simulated driver implements the same operations
// over virtual ports.
//
// No exceptions cross this seam: every operation returns 0 or a driver error
// code, as winmm does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(_WIN32)
#define KF_CALLBACK __stdcall
#else
#define KF_CALLBACK
#endif

namespace platform {

using MidiHandle = void*;

// Layout-identical to winmm's MIDIHDR (checked with static_asserts in the
// Win32 driver), so a header can be handed to winmm as it is. mmsystem.h
// declares it with 1-byte packing: 64 bytes in a 32-bit build, 112 in a
// 64-bit one, where lpNext and reserved sit at unaligned offsets. Use the
// fields as members; never take their addresses.
#pragma pack(push, 1)
struct MidiHeader {
  char* lpData;
  std::uint32_t dwBufferLength;
  std::uint32_t dwBytesRecorded;
  std::uintptr_t dwUser;
  std::uint32_t dwFlags;
  MidiHeader* lpNext;
  std::uintptr_t reserved;
  std::uint32_t dwOffset;
  std::uintptr_t dwReserved[8];
};
#pragma pack(pop)

// Layout-identical to MIDIINCAPSA (44 bytes) and MIDIOUTCAPSA (52 bytes).
struct MidiInCaps {
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[32];
  std::uint32_t dwSupport;
};
struct MidiOutCaps {
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[32];
  std::uint16_t wTechnology;
  std::uint16_t wVoices;
  std::uint16_t wNotes;
  std::uint16_t wChannelMask;
  std::uint32_t dwSupport;
};

// A port's name as winmm gives it in the caps: at most 31 bytes and a NUL,
// cut before a UTF-8 character rather than inside it (its continuation bytes
// are 10xxxxxx), so that a long name still shows as text.
inline void CopyPortName(std::string_view name, char (&destination)[32]) {
  std::memset(destination, 0, sizeof destination);
  std::size_t n = std::min(name.size(), sizeof destination - 1);
  if (n < name.size()) {
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(destination, name.data(), n);
}
static_assert(sizeof(MidiInCaps) == 44 && sizeof(MidiOutCaps) == 52);

// Driver callback messages (values as winmm defines them).
inline constexpr std::uint32_t MimOpen = 0x3C1;
inline constexpr std::uint32_t MimClose = 0x3C2;
inline constexpr std::uint32_t MimData = 0x3C3;
inline constexpr std::uint32_t MimLongData = 0x3C4;
inline constexpr std::uint32_t MimError = 0x3C5;
inline constexpr std::uint32_t MimLongError = 0x3C6;
inline constexpr std::uint32_t MomOpen = 0x3C7;
inline constexpr std::uint32_t MomClose = 0x3C8;
inline constexpr std::uint32_t MomDone = 0x3C9;

// Header flags the driver sets (MHDR_DONE, MHDR_PREPARED, MHDR_INQUEUE).
inline constexpr std::uint32_t MhdrDone = 0x1;
inline constexpr std::uint32_t MhdrPrepared = 0x2;
inline constexpr std::uint32_t MhdrInQueue = 0x4;

// A few winmm error codes the simulation reports the way winmm would.
inline constexpr std::uint32_t MmSysErrNoError = 0;
// What a port whose device has gone (an interface unplugged) answers: Windows
// 10 says there is no driver any more, Windows' newer MIDI stack gives the
// unspecified error.
inline constexpr std::uint32_t MmSysErrError = 1;
inline constexpr std::uint32_t MmSysErrNoDriver = 6;
inline constexpr std::uint32_t MmSysErrAllocated = 4;
inline constexpr std::uint32_t MmSysErrInvalHandle = 5;
inline constexpr std::uint32_t MmSysErrNoMem = 7;
inline constexpr std::uint32_t MidiErrUnprepared = 64;
inline constexpr std::uint32_t MidiErrStillPlaying = 65;
inline constexpr std::uint32_t MidiErrNotReady = 67;

// The callback the driver calls on its own threads: (handle, message, the
// instance data given at open, first and second message parameter).
using MidiCallback = void(KF_CALLBACK*)(MidiHandle handle, std::uint32_t message,
                                        std::uintptr_t instance, std::uintptr_t param1,
                                        std::uintptr_t param2);

class MidiDriver {
 public:
  virtual ~MidiDriver() = default;

  virtual std::uint32_t InGetNumDevs() = 0;
  virtual std::uint32_t OutGetNumDevs() = 0;
  virtual std::uint32_t InGetDevCaps(std::uint32_t index, MidiInCaps* caps) = 0;
  virtual std::uint32_t OutGetDevCaps(std::uint32_t index, MidiOutCaps* caps) = 0;

  virtual std::uint32_t InOpen(MidiHandle* handle, std::uint32_t index, MidiCallback callback,
                               std::uintptr_t instance) = 0;
  virtual std::uint32_t InPrepareHeader(MidiHandle handle, MidiHeader* header) = 0;
  virtual std::uint32_t InUnprepareHeader(MidiHandle handle, MidiHeader* header) = 0;
  virtual std::uint32_t InAddBuffer(MidiHandle handle, MidiHeader* header) = 0;
  virtual std::uint32_t InStart(MidiHandle handle) = 0;
  virtual std::uint32_t InStop(MidiHandle handle) = 0;
  virtual std::uint32_t InReset(MidiHandle handle) = 0;
  virtual std::uint32_t InClose(MidiHandle handle) = 0;

  virtual std::uint32_t OutOpen(MidiHandle* handle, std::uint32_t index, MidiCallback callback,
                                std::uintptr_t instance) = 0;
  virtual std::uint32_t OutPrepareHeader(MidiHandle handle, MidiHeader* header) = 0;
  virtual std::uint32_t OutUnprepareHeader(MidiHandle handle, MidiHeader* header) = 0;
  virtual std::uint32_t OutLongMsg(MidiHandle handle, MidiHeader* header) = 0;
  virtual std::uint32_t OutReset(MidiHandle handle) = 0;
  virtual std::uint32_t OutClose(MidiHandle handle) = 0;
};

}  // namespace platform
