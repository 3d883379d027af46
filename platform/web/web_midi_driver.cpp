#include "platform/web/web_midi_driver.h"

#include <algorithm>
#include <cstring>

namespace web {
namespace {

constexpr std::uint16_t ModMidiPort = 1;
constexpr std::uint8_t SysExStart = 0xF0;
constexpr std::uint8_t SysExEnd = 0xF7;
constexpr std::uint8_t FirstRealTime = 0xF8;

// A short message as MIM_DATA carries it: status and data bytes, little-endian.
std::uintptr_t Packed(std::span<const std::uint8_t> message) {
  std::uintptr_t packed = 0;
  for (std::size_t i = 0; i < std::min<std::size_t>(message.size(), 3); ++i) {
    packed |= std::uintptr_t{message[i]} << (8 * i);
  }
  return packed;
}

}  // namespace

WebMidiDriver::WebMidiDriver(std::vector<PagePort> inputs, std::vector<PagePort> outputs, MidiOutlet outlet)
    : outlet_(std::move(outlet)) {
  for (PagePort& page : inputs) inputs_.emplace_back().page = std::move(page);
  for (PagePort& page : outputs) outputs_.emplace_back().page = std::move(page);
}

WebMidiDriver::~WebMidiDriver() = default;

WebMidiDriver::InPort* WebMidiDriver::FindIn(platform::MidiHandle handle) {
  for (InPort& port : inputs_) {
    if (&port == handle && port.open) return &port;
  }
  return nullptr;
}

WebMidiDriver::OutPort* WebMidiDriver::FindOut(platform::MidiHandle handle) {
  for (OutPort& port : outputs_) {
    if (&port == handle && port.open) return &port;
  }
  return nullptr;
}

void WebMidiDriver::SetConnected(bool input, std::uint32_t index, bool connected) {
  if (!input && index < outputs_.size()) {
    outputs_[index].connected = connected;
    if (!connected) outputs_[index].joining.clear();
  }
  if (!input || index >= inputs_.size()) return;
  InPort& port = inputs_[index];
  port.connected = connected;
  if (connected) return;
  port.inSysEx = false;
  // Windows hands the queued buffers of an unplugged input back done and
  // empty; the transport's attempt to queue them again tells it the port
  // is gone.
  platform::InputBufferQueue queued;
  queued.swap(port.buffers);
  for (platform::MidiHeader* header : queued) {
    header->dwBytesRecorded = 0;
    if (port.open) HandBack(port, header);
  }
}

std::uint32_t WebMidiDriver::InGetNumDevs() { return static_cast<std::uint32_t>(inputs_.size()); }
std::uint32_t WebMidiDriver::OutGetNumDevs() { return static_cast<std::uint32_t>(outputs_.size()); }

std::uint32_t WebMidiDriver::InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) {
  if (index >= inputs_.size()) return MmSysErrBadDeviceId;
  if (caps == nullptr) return platform::MmSysErrError;
  *caps = {};
  platform::CopyPortName(inputs_[index].page.name, caps->szPname);
  return 0;
}

std::uint32_t WebMidiDriver::OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) {
  if (index >= outputs_.size()) return MmSysErrBadDeviceId;
  if (caps == nullptr) return platform::MmSysErrError;
  *caps = {};
  platform::CopyPortName(outputs_[index].page.name, caps->szPname);
  caps->wTechnology = ModMidiPort;
  return 0;
}

// --- input -------------------------------------------------------------------

void WebMidiDriver::HandBack(InPort& port, platform::MidiHeader* header) {
  platform::MarkInputDone(header);
  port.callback(&port, platform::MimLongData, port.instance, reinterpret_cast<std::uintptr_t>(header), 0);
}

void WebMidiDriver::Receive(std::uint32_t input, std::span<const std::uint8_t> bytes) {
  if (input >= inputs_.size() || bytes.empty()) return;
  InPort& port = inputs_[input];
  if (!port.open || !port.started) return;
  // A SysEx message goes on in a piece that starts with a data byte or with
  // its F7 (a piece of that one byte ends it).
  const bool sysex =
      bytes.front() == SysExStart || (port.inSysEx && (bytes.front() < 0x80 || bytes.front() == SysExEnd));
  if (!sysex) {
    // Real-time bytes may stand inside a SysEx message without ending it;
    // any other status byte ends it.
    if (bytes.front() < FirstRealTime) port.inSysEx = false;
    port.callback(&port, platform::MimData, port.instance, Packed(bytes), 0);
    return;
  }
  port.inSysEx = bytes.back() != SysExEnd;
  for (std::size_t at = 0; at < bytes.size();) {
    if (port.buffers.empty()) {
      dropped_ += bytes.size() - at;
      return;
    }
    platform::MidiHeader* header = port.buffers.front();
    port.buffers.pop_front();
    const std::size_t n = std::min<std::size_t>({bytes.size() - at, header->dwBufferLength, InputBufferBytes});
    std::memcpy(header->lpData, bytes.data() + at, n);
    at += n;
    header->dwBytesRecorded = static_cast<std::uint32_t>(n);
    // The transport may stop the port from the callback (it never does
    // today); what is left of the message is then not delivered.
    HandBack(port, header);
    if (!port.open || !port.started) return;
  }
}

std::uint32_t WebMidiDriver::InOpen(platform::MidiHandle* handle, std::uint32_t index,
                                    platform::MidiCallback callback, std::uintptr_t instance) {
  if (handle == nullptr) return platform::MmSysErrError;
  if (index >= inputs_.size()) return MmSysErrBadDeviceId;
  InPort& port = inputs_[index];
  if (!port.connected) return platform::MmSysErrNoDriver;
  if (!port.page.opened || port.open) return platform::MmSysErrAllocated;
  port.open = true;
  port.started = false;
  port.inSysEx = false;
  port.callback = callback;
  port.instance = instance;
  *handle = &port;
  return 0;
}

std::uint32_t WebMidiDriver::InPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  const InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return platform::MmSysErrError;
  if (!port->connected) return platform::MmSysErrNoDriver;
  header->dwFlags |= platform::MhdrPrepared;
  return 0;
}

std::uint32_t WebMidiDriver::InUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return platform::MmSysErrError;
  if (platform::IsQueued(port->buffers, header)) return platform::MidiErrStillPlaying;
  header->dwFlags &= ~platform::MhdrPrepared;
  return 0;
}

std::uint32_t WebMidiDriver::InAddBuffer(platform::MidiHandle handle, platform::MidiHeader* header) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return platform::MmSysErrError;
  if ((header->dwFlags & platform::MhdrPrepared) == 0) return platform::MidiErrUnprepared;
  if (!port->connected) return platform::MmSysErrNoDriver;
  return platform::QueueInputBuffer(port->buffers, header);
}

std::uint32_t WebMidiDriver::InStart(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  port->started = true;
  return 0;
}

std::uint32_t WebMidiDriver::InStop(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  port->started = false;
  port->inSysEx = false;
  return 0;
}

std::uint32_t WebMidiDriver::InReset(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  port->started = false;
  port->inSysEx = false;
  platform::InputBufferQueue pending;
  pending.swap(port->buffers);
  for (platform::MidiHeader* header : pending) {
    header->dwBytesRecorded = 0;
    HandBack(*port, header);
  }
  return 0;
}

std::uint32_t WebMidiDriver::InClose(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (!port->buffers.empty()) return platform::MidiErrStillPlaying;
  port->open = port->started = false;
  return 0;
}

// --- output ------------------------------------------------------------------

std::uint32_t WebMidiDriver::OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                                     platform::MidiCallback callback, std::uintptr_t instance) {
  if (handle == nullptr) return platform::MmSysErrError;
  if (index >= outputs_.size()) return MmSysErrBadDeviceId;
  OutPort& port = outputs_[index];
  if (!port.connected) return platform::MmSysErrNoDriver;
  if (!port.page.opened || port.open) return platform::MmSysErrAllocated;
  port.open = true;
  port.joining.clear();
  port.callback = callback;
  port.instance = instance;
  *handle = &port;
  return 0;
}

std::uint32_t WebMidiDriver::OutPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  const OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return platform::MmSysErrError;
  if (!port->connected) return platform::MmSysErrNoDriver;
  header->dwFlags = (header->dwFlags & ~platform::MhdrDone) | platform::MhdrPrepared;
  return 0;
}

std::uint32_t WebMidiDriver::OutUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  if (FindOut(handle) == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return platform::MmSysErrError;
  header->dwFlags &= ~platform::MhdrPrepared;
  return 0;
}

std::uint32_t WebMidiDriver::OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) {
  OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr || header->lpData == nullptr) return platform::MmSysErrError;
  if ((header->dwFlags & platform::MhdrPrepared) == 0) return platform::MidiErrUnprepared;
  if (!port->connected) return platform::MmSysErrNoDriver;
  const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData);
  const std::span<const std::uint8_t> chunk(data, header->dwBufferLength);
  const auto index = static_cast<std::uint32_t>(port - outputs_.data());
  if (!chunk.empty() && chunk.front() == SysExStart) port->joining.clear();
  if (!chunk.empty() && (chunk.front() == SysExStart || !port->joining.empty())) {
    port->joining.insert(port->joining.end(), chunk.begin(), chunk.end());
    if (port->joining.back() == SysExEnd) {
      outlet_(index, port->joining);
      port->joining.clear();
    }
  } else if (!chunk.empty()) {
    outlet_(index, chunk);
  }
  header->dwFlags |= platform::MhdrDone;
  port->callback(port, platform::MomDone, port->instance, reinterpret_cast<std::uintptr_t>(header), 0);
  return 0;
}

std::uint32_t WebMidiDriver::OutReset(platform::MidiHandle handle) {
  OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  port->joining.clear();
  return 0;
}

std::uint32_t WebMidiDriver::OutClose(platform::MidiHandle handle) {
  OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  port->open = false;
  port->joining.clear();
  return 0;
}

}  // namespace web
