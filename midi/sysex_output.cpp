#include "midi/sysex_output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/services.h"
#include "texts/user_texts.h"

namespace midi {

namespace {

void ShowTransferError(std::uint32_t code) {
  char text[64];
  std::snprintf(text, sizeof text, texts::TransferErrorFormat, static_cast<int>(code));
  platform::Ui().MessageBox(nullptr, text, texts::TransferErrorCaption, platform::BoxOk);
}

}  // namespace

std::uint32_t SendBuffer(MidiPort* port, MidiBuffer* buffer) {
  if (buffer == nullptr) return SendErrInvalidParameter;
  if (port == nullptr) {
    BufferPut(buffer);
    return SendErrInvalidParameter;
  }
  platform::MidiDriver& midi = platform::Midi();
  platform::MidiHeader* header = &buffer->header;
  header->dwUser = reinterpret_cast<std::uintptr_t>(port);

  // A buffer the driver refused never reaches the dispatcher, so it is
  // recovered here instead of being lost to the pool for good.
  std::uint32_t result = midi.OutPrepareHeader(port->handle, header);
  if (result != 0) {
    MarkLostIfGone(*port, result);
    BufferPut(buffer);
    return result;
  }
  for (std::uint32_t attempt = 1;; ++attempt) {
    result = midi.OutLongMsg(port->handle, header);
    if (result == 0) return 0;
    // A driver that is gone does not come back within the retries.
    if (attempt == SendAttempts || result == platform::MmSysErrNoDriver) break;
    platform::Time().Sleep(SendRetryPauseMs);
  }
  // An interface that has gone is the caller's to report, with what it
  // means for the caller's work: this box would only say an error happened.
  const bool gone = MarkLostIfGone(*port, result);
  if (!gone) ShowTransferError(result);
  midi.OutUnprepareHeader(port->handle, header);
  BufferPut(buffer);
  return result;
}

std::uint32_t SendSysEx(MidiPort* port, const std::uint8_t* bytes, std::int32_t length) {
  if (bytes == nullptr && length > 0) return SendErrInvalidParameter;
  while (length > 0) {
    MidiBuffer* buffer = BufferGet();
    // No memory for a buffer: reported like any refused chunk, so that the
    // caller does not take an unsent message for a sent one.
    if (buffer == nullptr) return platform::MmSysErrNoMem;
    const auto n = static_cast<std::uint32_t>(std::min<std::int32_t>(length, MidiBufferDataSize));
    std::memcpy(buffer->data, bytes, n);
    buffer->header.dwBufferLength = n;
    buffer->header.dwBytesRecorded = n;
    const std::uint32_t result = SendBuffer(port, buffer);
    if (result != 0) return result;
    platform::Time().Sleep(n / SendPaceBytesPerMs + SendPaceBaseMs);
    bytes += n;
    length -= static_cast<std::int32_t>(n);
  }
  return 0;
}

// Runs on a driver thread, where little may be done safely (winmm forbids
// calling back into the MIDI functions from here): it only queues the header
// and wakes the dispatcher, which unprepares it and returns it to the pool.
void KF_CALLBACK OutputCallback(platform::MidiHandle, std::uint32_t message, std::uintptr_t,
                                std::uintptr_t param1, std::uintptr_t) {
  if (message == platform::MomDone) {
    QueueCompleted(reinterpret_cast<platform::MidiHeader*>(param1));
  }
}

}  // namespace midi
