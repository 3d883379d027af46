#include "midi/port_registry.h"

#include <cstring>
#include <vector>

#include "midi/input_dispatcher.h"
#include "midi/listeners.h"
#include "midi/midi_buffer.h"
#include "midi/sysex_output.h"
#include "midi/transport_records.h"
#include "platform/services.h"
#include "progress/progress_window.h"
#include "texts/user_texts.h"

namespace midi {

namespace {

constexpr std::uint32_t PortNameHoldMs = 50;
constexpr std::uint32_t InitMinimumDisplayMs = 300;
// How long a reopen waits for the dispatcher to hand the closed ports'
// buffers back to the pool (it takes microseconds when all is well).
constexpr std::uint32_t ReopenSettleMs = 2000;

// Driver technologies with bit 0 set (MIDI port, square-wave synth, mapper,
// software synth) are enabled by default, except the ports of these two
// makers whose product id has bit 8 set.
constexpr std::uint16_t TechnologyEnabledBit = 0x1;
constexpr std::uint16_t ExcludedMakerA = 208;
constexpr std::uint16_t ExcludedMakerB = 219;
constexpr std::uint16_t ExcludedProductBit = 0x0100;

bool FineResolutionHeld = false;
std::vector<UnopenedPort> LeftOut;

// The name as a terminated string, whether or not the driver terminated it.
struct TerminatedName {
  char text[sizeof(platform::MidiInCaps::szPname) + 1];
  explicit TerminatedName(const MidiPort& port) {
    std::memcpy(text, port.caps.in.szPname, sizeof port.caps.in.szPname);
    text[sizeof text - 1] = '\0';
  }
};

bool OutputEnabledByDefault(const platform::MidiOutCaps& caps) {
  if ((caps.wTechnology & TechnologyEnabledBit) == 0) return false;
  const bool excludedMaker = caps.wMid == ExcludedMakerA || caps.wMid == ExcludedMakerB;
  return !(excludedMaker && (caps.wPid & ExcludedProductBit) != 0);
}

// Links `port` behind `last` (at the head when this call linked none yet).
void LinkBehind(MidiPort*& last, MidiPort* port) {
  if (last == nullptr) {
    port->next = PortList;
    PortList = port;
  } else {
    port->next = last->next;
    last->next = port;
  }
  last = port;
}

// A port the driver would not open: remembered with the driver's answer, its
// record given back, its name cleared from the progress window.
void LeaveOut(MidiPort* port, std::uint32_t error, progress::ProgressWindow* window) {
  UnopenedPort unopened{.input = (port->flags.load(std::memory_order_relaxed) & PortInput) != 0,
                        .index = port->device & PortDeviceIndexMask,
                        .name = {},
                        .error = error};
  std::memcpy(unopened.name, TerminatedName(*port).text, sizeof unopened.name);
  LeftOut.push_back(unopened);
  progress::SetProgressText(window, 0, "");
  delete port;
}

void OpenInputs(platform::MidiDriver& midi, progress::ProgressWindow* window, std::uint32_t count,
                MidiPort*& last) {
  for (std::uint32_t index = 0; index < count; ++index) {
    // Without memory for the record the port is skipped, like one that
    // cannot be opened.
    auto* port = NewTransportRecord<MidiPort>(TransportRecord::Port);
    if (port == nullptr) continue;
    midi.InGetDevCaps(index, &port->caps.in);
    progress::SetProgressText(window, PortNameHoldMs, TerminatedName(*port).text);
    port->flags.store(PortInput | PortEnabled, std::memory_order_relaxed);
    port->device = index;
    const std::uint32_t result =
        midi.InOpen(&port->handle, index, InputCallback, reinterpret_cast<std::uintptr_t>(port));
    if (result != 0) {
      LeaveOut(port, result, window);
      continue;
    }
    midi.InStart(port->handle);
    LinkBehind(last, port);
    for (std::uint32_t i = 0; i < InputBuffersPerPort; ++i) QueueInputBuffer(port);
  }
}

void OpenOutputs(platform::MidiDriver& midi, progress::ProgressWindow* window, std::uint32_t count,
                 MidiPort*& last) {
  for (std::uint32_t index = 0; index < count; ++index) {
    auto* port = NewTransportRecord<MidiPort>(TransportRecord::Port);
    if (port == nullptr) continue;
    midi.OutGetDevCaps(index, &port->caps.out);
    progress::SetProgressText(window, PortNameHoldMs, TerminatedName(*port).text);
    port->device = index | PortOutputMark;
    const std::uint32_t result =
        midi.OutOpen(&port->handle, index, OutputCallback, reinterpret_cast<std::uintptr_t>(port));
    if (result != 0) {
      LeaveOut(port, result, window);
      continue;
    }
    if (OutputEnabledByDefault(port->caps.out)) port->flags.store(PortEnabled, std::memory_order_relaxed);
    LinkBehind(last, port);
  }
}

// Takes a port's handle down; the results do not matter (a port whose device
// has gone answers every call with an error).
void TakeDown(platform::MidiDriver& midi, const MidiPort& port) {
  if ((port.flags.load(std::memory_order_relaxed) & PortInput) != 0) {
    midi.InStop(port.handle);
    midi.InReset(port.handle);
    midi.InClose(port.handle);
  } else {
    midi.OutReset(port.handle);
    midi.OutClose(port.handle);
  }
}

// Whether another open port of that direction has that device index.
bool DeviceTaken(const MidiPort& self, bool input, std::uint32_t index) {
  for (const MidiPort* port = PortList; port != nullptr; port = port->next) {
    const bool sameKind = ((port->flags.load(std::memory_order_relaxed) & PortInput) != 0) == input;
    if (port != &self && sameKind && !PortIsLost(port) && (port->device & PortDeviceIndexMask) == index) return true;
  }
  return false;
}

// Opens a lost port again at the first device of its name the driver offers.
bool Reopen(platform::MidiDriver& midi, MidiPort& port) {
  const bool input = (port.flags.load(std::memory_order_relaxed) & PortInput) != 0;
  const std::uint32_t count = input ? midi.InGetNumDevs() : midi.OutGetNumDevs();
  const auto instance = reinterpret_cast<std::uintptr_t>(&port);
  for (std::uint32_t index = 0; index < count; ++index) {
    PortCaps caps{};
    const std::uint32_t asked = input ? midi.InGetDevCaps(index, &caps.in) : midi.OutGetDevCaps(index, &caps.out);
    if (asked != 0 || std::strncmp(caps.in.szPname, port.caps.in.szPname, sizeof caps.in.szPname) != 0 ||
        DeviceTaken(port, input, index)) {
      continue;
    }
    platform::MidiHandle handle = nullptr;
    const std::uint32_t opened = input ? midi.InOpen(&handle, index, InputCallback, instance)
                                       : midi.OutOpen(&handle, index, OutputCallback, instance);
    if (opened != 0) continue;
    port.handle = handle;
    port.device = input ? index : index | PortOutputMark;
    port.caps = caps;
    port.flags.fetch_and(~PortLost, std::memory_order_relaxed);
    if (input) {
      midi.InStart(handle);
      for (std::uint32_t i = 0; i < InputBuffersPerPort; ++i) QueueInputBuffer(&port);
    }
    return true;
  }
  return false;
}

}  // namespace

std::span<const UnopenedPort> UnopenedPorts() { return LeftOut; }

int ReopenLostPorts() {
  std::vector<MidiPort*> lost;
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (PortIsLost(port)) lost.push_back(port);
  }
  if (lost.empty()) return 0;
  platform::MidiDriver& midi = platform::Midi();
  for (const MidiPort* port : lost) TakeDown(midi, *port);
  // Buffers a close handed back still name these records; the closed
  // handles refuse them and the dispatcher returns them to the pool before
  // the records take new handles.
  WaitDispatcherIdle(ReopenSettleMs);
  int back = 0;
  for (MidiPort* port : lost) back += Reopen(midi, *port) ? 1 : 0;
  return back;
}

int MidiTransportInit(platform::WindowHandle owner) {
  LeftOut.clear();
  if (DispatcherWake == nullptr) DispatcherWake = new platform::WakeEvent;
  platform::MidiDriver& midi = platform::Midi();
  const std::uint32_t inputs = midi.InGetNumDevs();
  if (inputs == 0) {
    platform::Ui().MessageBox(nullptr, texts::NoInputsText, texts::ConfigurationErrorCaption,
                              platform::BoxOk);
    return 0;
  }
  const std::uint32_t outputs = midi.OutGetNumDevs();
  if (outputs == 0) {
    platform::Ui().MessageBox(nullptr, texts::NoOutputsText, texts::ConfigurationErrorCaption,
                              platform::BoxOk);
    return 0;
  }

  // Every pacing pause and hold time from here on relies on a 1 ms timer.
  if (!FineResolutionHeld) {
    platform::Time().BeginFineResolution();
    FineResolutionHeld = true;
  }
  progress::ProgressWindow* window = progress::OpenProgressWindow(
      platform::Installed().module, progress::ProgressModeStatus, owner, texts::InitializingText);

  DispatcherStop.store(0, std::memory_order_release);
  if (!StartDispatcherThread()) {
    // Nothing would ever hand input to a listener or return a sent buffer:
    // the transport is unusable, so no port is opened.
    progress::CloseProgressWindow(window, InitMinimumDisplayMs);
    return 0;
  }

  MidiPort* last = nullptr;
  OpenInputs(midi, window, inputs, last);
  OpenOutputs(midi, window, outputs, last);
  progress::CloseProgressWindow(window, InitMinimumDisplayMs);
  return 1;
}

void MidiTransportShutdown() {
  StopDispatcherThread();
  // The dispatcher is gone: the buffers the resets hand back are queued but
  // never processed, so no port is used after it has been freed.
  platform::MidiDriver* midi = platform::Installed().midi;
  while (PortList != nullptr) {
    MidiPort* port = PortList;
    PortList = port->next;
    port->flags.fetch_or(PortClosing, std::memory_order_relaxed);
    TakeDown(*midi, *port);
    // Listener records are never freed; those left on the port are kept
    // with the recycled ones rather than lost with it.
    RecycleListenersOf(port);
    delete port;
  }
  // The buffers the resets handed back name ports that are gone. Nothing is
  // left to process them, so they go back to the pool: a later start in the
  // same process (the command line's tests start the transport more than
  // once) must not hand them to its new dispatcher.
  platform::MidiHeader* queued = nullptr;
  {
    std::lock_guard lock(PoolLock);
    queued = DispatchQueue;
    DispatchQueue = nullptr;
  }
  while (queued != nullptr) {
    platform::MidiHeader* next = queued->lpNext;
    BufferPut(BufferOf(queued));
    queued = next;
  }
  if (FineResolutionHeld) {
    platform::Time().EndFineResolution();
    FineResolutionHeld = false;
  }
}

}  // namespace midi
