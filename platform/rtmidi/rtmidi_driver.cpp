#include "platform/rtmidi/rtmidi_driver.h"

#include <RtMidi.h>
#include <algorithm>
#include <cstring>

#include "platform/input_buffer_queue.h"

namespace rtmidi {
namespace {

constexpr std::uint16_t ModMidiPort = 1;

RtMidi::Api ToRtMidi(Api api) { return api == Api::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA; }

// RtMidi reports problems both by exceptions and through this callback; the
// callback keeps it from printing to the terminal, the exceptions are caught.
void QuietErrors(RtMidiError::Type, const std::string&, void*) {}

template <typename Midi>
std::vector<std::string> PortNames(Midi& midi) {
  std::vector<std::string> names;
  const unsigned count = midi.getPortCount();
  for (unsigned i = 0; i < count; ++i) names.push_back(midi.getPortName(i));
  return names;
}

template <typename Midi>
bool OpenByName(Midi& midi, const std::string& name, const char* localName) {
  const unsigned count = midi.getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    if (midi.getPortName(i) == name) {
      midi.openPort(i, localName);
      return midi.isPortOpen();
    }
  }
  return false;
}

}  // namespace

struct RtMidiDriver::InPort {
  RtMidiDriver* driver = nullptr;
  platform::MidiCallback callback = nullptr;
  std::uintptr_t instance = 0;
  std::atomic<std::uint32_t> gone{0};  // the watch saw its connection go
  std::mutex mutex;  // everything below
  platform::InputBufferQueue buffers;
  bool started = false;
  bool inSysEx = false;  // a SysEx message whose F7 has not come yet
  // Declared last: destroyed first, so RtMidi's thread has ended before the
  // rest of the port goes.
  std::unique_ptr<RtMidiIn> midi;
};

struct RtMidiDriver::OutPort {
  platform::MidiCallback callback = nullptr;
  std::uintptr_t instance = 0;
  std::atomic<std::uint32_t> gone{0};
  std::mutex mutex;  // serialises sends
  std::unique_ptr<RtMidiOut> midi;
};

std::unique_ptr<RtMidiDriver> RtMidiDriver::Create(Api api, const std::string& clientName,
                                                   std::string& error) {
  std::unique_ptr<RtMidiDriver> driver(new RtMidiDriver(api, clientName));
  // JACK connects only when the ports are first listed, and reports a server
  // that is not running as a warning with no ports at all: kept here, so that
  // the caller learns why rather than "no inputs".
  std::string warning;
  const RtMidiErrorCallback keep = [](RtMidiError::Type, const std::string& text, void* data) {
    *static_cast<std::string*>(data) = text;
  };
  try {
    RtMidiIn in(ToRtMidi(api), clientName);
    in.setErrorCallback(keep, &warning);
    driver->inputs_ = PortNames(in);
    RtMidiOut out(ToRtMidi(api), clientName);
    out.setErrorCallback(keep, &warning);
    driver->outputs_ = PortNames(out);
  } catch (const RtMidiError& e) {
    error = e.getMessage();
    return nullptr;
  }
  if (driver->inputs_.empty() && driver->outputs_.empty() && !warning.empty()) {
    error = warning;
    return nullptr;
  }
  // Without the watch the driver still works; a lost connection then shows
  // as silence.
  if (api == Api::Jack) {
    RtMidiDriver* self = driver.get();
    driver->watch_ = JackWatch::Open([self](const void* key) { self->OnLost(key); });
  }
  return driver;
}

RtMidiDriver::~RtMidiDriver() {
  watch_.reset();
  std::lock_guard lock(mutex_);
  for (InPort* port : openInputs_) delete port;
  for (OutPort* port : openOutputs_) delete port;
}

std::vector<std::string> RtMidiDriver::ConnectionsOf(const std::string& port) const {
  return watch_ ? watch_->Connections(port) : std::vector<std::string>{};
}

void RtMidiDriver::FollowNew(const void* key, const std::string& theirs, const std::vector<std::string>& before) {
  if (!watch_) return;
  for (const std::string& name : watch_->Connections(theirs)) {
    if (std::find(before.begin(), before.end(), name) != before.end()) continue;
    watch_->Follow(key, name, theirs);
    return;
  }
}

// On JACK's thread. The driver's lock is held throughout, so that a close
// cannot free the port meanwhile; what the transport's callback does takes
// no lock of the driver.
void RtMidiDriver::OnLost(const void* key) {
  std::lock_guard lock(mutex_);
  if (auto out = std::find(openOutputs_.begin(), openOutputs_.end(), key); out != openOutputs_.end()) {
    (*out)->gone.store(platform::MmSysErrNoDriver);
  }
  const auto in = std::find(openInputs_.begin(), openInputs_.end(), key);
  if (in == openInputs_.end()) return;
  InPort& port = **in;
  port.gone.store(platform::MmSysErrNoDriver);
  platform::InputBufferQueue pending;
  {
    std::lock_guard portLock(port.mutex);
    port.started = false;
    pending.swap(port.buffers);
  }
  for (platform::MidiHeader* header : pending) {
    header->dwBytesRecorded = 0;
    platform::MarkInputDone(header);
    port.callback(&port, platform::MimLongData, port.instance, reinterpret_cast<std::uintptr_t>(header), 0);
  }
}

RtMidiDriver::InPort* RtMidiDriver::FindIn(platform::MidiHandle handle) {
  std::lock_guard lock(mutex_);
  auto* port = static_cast<InPort*>(handle);
  return openInputs_.count(port) != 0 ? port : nullptr;
}

RtMidiDriver::OutPort* RtMidiDriver::FindOut(platform::MidiHandle handle) {
  std::lock_guard lock(mutex_);
  auto* port = static_cast<OutPort*>(handle);
  return openOutputs_.count(port) != 0 ? port : nullptr;
}

std::uint32_t RtMidiDriver::InGetNumDevs() { return static_cast<std::uint32_t>(inputs_.size()); }
std::uint32_t RtMidiDriver::OutGetNumDevs() { return static_cast<std::uint32_t>(outputs_.size()); }

std::uint32_t RtMidiDriver::InGetDevCaps(std::uint32_t index, platform::MidiInCaps* caps) {
  if (index >= inputs_.size()) return MmSysErrBadDeviceId;
  if (caps == nullptr) return MmSysErrError;
  *caps = {};
  platform::CopyPortName(inputs_[index], caps->szPname);
  return 0;
}

std::uint32_t RtMidiDriver::OutGetDevCaps(std::uint32_t index, platform::MidiOutCaps* caps) {
  if (index >= outputs_.size()) return MmSysErrBadDeviceId;
  if (caps == nullptr) return MmSysErrError;
  *caps = {};
  platform::CopyPortName(outputs_[index], caps->szPname);
  caps->wTechnology = ModMidiPort;
  return 0;
}

// --- input -------------------------------------------------------------------

void RtMidiDriver::Deliver(InPort& port, const std::vector<unsigned char>& message) {
  if (message.empty()) return;
  std::unique_lock lock(port.mutex);
  if (!port.started) return;
  const bool sysex = message.front() == 0xF0 || (port.inSysEx && message.front() < 0x80);
  if (!sysex) {
    if (message.front() >= 0xF8) {
      // Real-time bytes may sit inside a SysEx message without ending it.
    } else {
      port.inSysEx = false;
    }
    std::uintptr_t packed = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(message.size(), 3); ++i) {
      packed |= std::uintptr_t{message[i]} << (8 * i);
    }
    lock.unlock();
    port.callback(&port, platform::MimData, port.instance, packed, 0);
    return;
  }
  port.inSysEx = message.back() != 0xF7;
  for (std::size_t at = 0; at < message.size();) {
    if (port.buffers.empty()) {
      port.driver->dropped_ += message.size() - at;
      return;
    }
    platform::MidiHeader* header = port.buffers.front();
    port.buffers.pop_front();
    const std::size_t n = std::min<std::size_t>({message.size() - at, header->dwBufferLength, InputBufferBytes});
    std::memcpy(header->lpData, message.data() + at, n);
    at += n;
    header->dwBytesRecorded = static_cast<std::uint32_t>(n);
    platform::MarkInputDone(header);
    // The port's lock is not held across the callback: the transport may
    // give the buffer back (InAddBuffer) from it.
    lock.unlock();
    port.callback(&port, platform::MimLongData, port.instance, reinterpret_cast<std::uintptr_t>(header), 0);
    lock.lock();
    if (!port.started) return;
  }
}

std::uint32_t RtMidiDriver::InOpen(platform::MidiHandle* handle, std::uint32_t index,
                                   platform::MidiCallback callback, std::uintptr_t instance) {
  if (handle == nullptr) return MmSysErrError;
  if (index >= inputs_.size()) return MmSysErrBadDeviceId;
  auto port = std::make_unique<InPort>();
  port->driver = this;
  port->callback = callback;
  port->instance = instance;
  try {
    port->midi = std::make_unique<RtMidiIn>(ToRtMidi(api_), clientName_);
    port->midi->setErrorCallback(QuietErrors);
    // SysEx is what this program is about; timing clock and active sensing
    // would only fill the queue.
    port->midi->ignoreTypes(false, true, true);
    port->midi->setCallback(
        [](double, std::vector<unsigned char>* message, void* data) {
          if (message != nullptr) Deliver(*static_cast<InPort*>(data), *message);
        },
        port.get());
    const std::vector<std::string> before = ConnectionsOf(inputs_[index]);
    if (!OpenByName(*port->midi, inputs_[index], "in")) return MmSysErrBadDeviceId;
    FollowNew(port.get(), inputs_[index], before);
  } catch (const RtMidiError&) {
    return MmSysErrError;
  }
  std::lock_guard lock(mutex_);
  *handle = port.get();
  openInputs_.insert(port.release());
  return 0;
}

std::uint32_t RtMidiDriver::InPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  const InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (const std::uint32_t gone = port->gone.load()) return gone;
  if (header == nullptr) return MmSysErrError;
  header->dwFlags |= platform::MhdrPrepared;
  return 0;
}

std::uint32_t RtMidiDriver::InUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return MmSysErrError;
  std::lock_guard lock(port->mutex);
  if (platform::IsQueued(port->buffers, header)) return platform::MidiErrStillPlaying;
  header->dwFlags &= ~platform::MhdrPrepared;
  return 0;
}

std::uint32_t RtMidiDriver::InAddBuffer(platform::MidiHandle handle, platform::MidiHeader* header) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return MmSysErrError;
  if ((header->dwFlags & platform::MhdrPrepared) == 0) return platform::MidiErrUnprepared;
  std::lock_guard lock(port->mutex);
  if (const std::uint32_t gone = port->gone.load()) return gone;
  return platform::QueueInputBuffer(port->buffers, header);
}

std::uint32_t RtMidiDriver::InStart(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  std::lock_guard lock(port->mutex);
  if (const std::uint32_t gone = port->gone.load()) return gone;
  port->started = true;
  return 0;
}

std::uint32_t RtMidiDriver::InStop(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  std::lock_guard lock(port->mutex);
  port->started = false;
  port->inSysEx = false;
  return 0;
}

std::uint32_t RtMidiDriver::InReset(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  platform::InputBufferQueue pending;
  {
    std::lock_guard lock(port->mutex);
    port->started = false;
    port->inSysEx = false;
    pending.swap(port->buffers);
  }
  for (platform::MidiHeader* header : pending) {
    header->dwBytesRecorded = 0;
    platform::MarkInputDone(header);
    port->callback(port, platform::MimLongData, port->instance, reinterpret_cast<std::uintptr_t>(header), 0);
  }
  return 0;
}

std::uint32_t RtMidiDriver::InClose(platform::MidiHandle handle) {
  InPort* port = FindIn(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  {
    std::lock_guard lock(port->mutex);
    if (!port->buffers.empty()) return platform::MidiErrStillPlaying;
    port->started = false;
  }
  if (watch_) watch_->Forget(port);
  {
    std::lock_guard lock(mutex_);
    openInputs_.erase(port);
  }
  try {
    port->midi.reset();  // waits for RtMidi's thread
  } catch (const RtMidiError&) {
  }
  delete port;
  return 0;
}

// --- output ------------------------------------------------------------------

std::uint32_t RtMidiDriver::OutOpen(platform::MidiHandle* handle, std::uint32_t index,
                                    platform::MidiCallback callback, std::uintptr_t instance) {
  if (handle == nullptr) return MmSysErrError;
  if (index >= outputs_.size()) return MmSysErrBadDeviceId;
  auto port = std::make_unique<OutPort>();
  port->callback = callback;
  port->instance = instance;
  try {
    port->midi = std::make_unique<RtMidiOut>(ToRtMidi(api_), clientName_);
    port->midi->setErrorCallback(QuietErrors);
    const std::vector<std::string> before = ConnectionsOf(outputs_[index]);
    if (!OpenByName(*port->midi, outputs_[index], "out")) return MmSysErrBadDeviceId;
    FollowNew(port.get(), outputs_[index], before);
  } catch (const RtMidiError&) {
    return MmSysErrError;
  }
  std::lock_guard lock(mutex_);
  *handle = port.get();
  openOutputs_.insert(port.release());
  return 0;
}

std::uint32_t RtMidiDriver::OutPrepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  const OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (const std::uint32_t gone = port->gone.load()) return gone;
  if (header == nullptr) return MmSysErrError;
  header->dwFlags = (header->dwFlags & ~platform::MhdrDone) | platform::MhdrPrepared;
  return 0;
}

std::uint32_t RtMidiDriver::OutUnprepareHeader(platform::MidiHandle handle, platform::MidiHeader* header) {
  if (FindOut(handle) == nullptr) return platform::MmSysErrInvalHandle;
  if (header == nullptr) return MmSysErrError;
  header->dwFlags &= ~platform::MhdrPrepared;
  return 0;
}

std::uint32_t RtMidiDriver::OutLongMsg(platform::MidiHandle handle, platform::MidiHeader* header) {
  OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (const std::uint32_t gone = port->gone.load()) return gone;
  if (header == nullptr || header->lpData == nullptr) return MmSysErrError;
  if ((header->dwFlags & platform::MhdrPrepared) == 0) return platform::MidiErrUnprepared;
  {
    std::lock_guard lock(port->mutex);
    try {
      port->midi->sendMessage(reinterpret_cast<const unsigned char*>(header->lpData), header->dwBufferLength);
    } catch (const RtMidiError&) {
      return MmSysErrError;
    }
  }
  header->dwFlags |= platform::MhdrDone;
  port->callback(port, platform::MomDone, port->instance, reinterpret_cast<std::uintptr_t>(header), 0);
  return 0;
}

std::uint32_t RtMidiDriver::OutReset(platform::MidiHandle handle) {
  return FindOut(handle) == nullptr ? platform::MmSysErrInvalHandle : 0;
}

std::uint32_t RtMidiDriver::OutClose(platform::MidiHandle handle) {
  OutPort* port = FindOut(handle);
  if (port == nullptr) return platform::MmSysErrInvalHandle;
  if (watch_) watch_->Forget(port);
  {
    std::lock_guard lock(mutex_);
    openOutputs_.erase(port);
  }
  try {
    port->midi.reset();
  } catch (const RtMidiError&) {
  }
  delete port;
  return 0;
}

}  // namespace rtmidi
