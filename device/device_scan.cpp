// The scan asks one enabled output at a time: the Identity Request first and,
// when nothing answers within 100 ms, the three model queries. Every reply
// that arrives on any enabled input meanwhile is attributed to that output,
// so each kind of reply is listened for only while it can be the answer:
// another program's SysEx on a shared input must not make the instrument's
// output look ambiguous. Outputs that drew more than one reply are dropped
// as ambiguous; one instrument reached through several outputs is kept once.
// Ports whose interface was unplugged are opened again first, where it is
// back, and are left out while it is not.
#include "device/device_scan.h"

#include <algorithm>
#include <cstring>

#include "device/flash_workflow.h"
#include "device/messages.h"
#include "midi/listeners.h"
#include "midi/port_registry.h"
#include "midi/sysex_output.h"
#include "midi/transport_records.h"
#include "platform/services.h"
#include "progress/progress_window.h"
#include "texts/user_texts.h"

namespace device {

using midi::BufferGet;
using midi::ListenerKeep;
using midi::MidiBuffer;
using midi::MidiPort;
using midi::PortCopyName;
using midi::PortEnabled;
using midi::PortInput;
using midi::PortList;
using midi::RemoveListener;
using midi::SysExListener;

DetectedDevice* DeviceList = nullptr;

namespace {

constexpr std::uint32_t ReplyWindowMs = 100;
constexpr std::uint32_t PortNameHoldMs = 100;

bool IsEnabledOutput(const MidiPort* port) {
  return (port->flags & PortEnabled) != 0 && (port->flags & PortInput) == 0;
}
bool IsEnabledInput(const MidiPort* port) {
  return (port->flags & PortEnabled) != 0 && (port->flags & PortInput) != 0;
}
// An enabled output whose interface is there to be asked.
bool IsAskable(const MidiPort* port) { return IsEnabledOutput(port) && !midi::PortIsLost(port); }

// Records of one output stand together: a new record goes right before the
// first record of its output, or at the end of the list.
void Insert(DetectedDevice* record) {
  DetectedDevice** link = &DeviceList;
  while (*link != nullptr && (*link)->outputPort != record->outputPort) link = &(*link)->next;
  record->next = *link;
  *link = record;
}

int Record(MidiPort* input, void* reply, std::uint8_t modelId, std::uint8_t channel,
           const char (&version)[DeviceVersionSize]) {
  auto* scan = static_cast<ScanReply*>(reply);
  auto* record = new (std::nothrow) DetectedDevice{};
  if (record == nullptr) return ListenerKeep;  // out of memory: the reply is lost
  record->modelId = modelId;
  record->channel = channel;
  std::memcpy(record->version, version, DeviceVersionSize);
  record->inputPort = input;
  record->outputPort = scan->outputPort;
  Insert(record);
  scan->replies.fetch_add(1, std::memory_order_release);
  return ListenerKeep;
}

// Sends `bytes` (at most one buffer) to `port`; false when no buffer was had.
bool SendOneBuffer(MidiPort* port, std::span<const std::uint8_t> bytes) {
  MidiBuffer* buffer = BufferGet();
  if (buffer == nullptr) return false;
  std::memcpy(buffer->header.lpData, bytes.data(), bytes.size());
  buffer->header.dwBufferLength = static_cast<std::uint32_t>(bytes.size());
  buffer->header.dwBytesRecorded = static_cast<std::uint32_t>(bytes.size());
  SendBuffer(port, buffer);  // failures are reported by the send path
  return true;
}

// Asks one output. True when at least one reply was recorded for it.
bool AskOutput(MidiPort* port) {
  ScanReply reply;
  reply.outputPort = port;
  MidiBuffer* buffer = BufferGet();
  if (buffer == nullptr) return false;
  std::memcpy(buffer->header.lpData, IdentityRequest.data(), IdentityRequest.size());
  buffer->header.dwBufferLength = buffer->header.dwBytesRecorded = IdentityRequest.size();
  SysExListener* identity =
      AddListener(nullptr, OnIdentityReply, &reply, IdentityReplyPattern.data());
  SendBuffer(port, buffer);
  // The wait is never cut short: every reply within it is recorded.
  platform::Time().Sleep(ReplyWindowMs);
  if (reply.replies.load(std::memory_order_acquire) == 0) {
    SysExListener* modelQuery =
        AddListener(nullptr, OnModelQueryReply, &reply, ModelQueryReplyPattern.data());
    if (SendOneBuffer(port, ModelQueries)) platform::Time().Sleep(ReplyWindowMs);
    RemoveListener(modelQuery);
  }
  RemoveListener(identity);
  return reply.replies.load(std::memory_order_acquire) > 0;
}

void Unlink(DetectedDevice** link) {
  DetectedDevice* gone = *link;
  *link = gone->next;
  delete gone;
}

// Pass 1: an output with two or more records controls more than one device
// (or one that answered twice); all of its records go.
bool DropAmbiguousOutputs() {
  bool ambiguous = false;
  DetectedDevice** link = &DeviceList;
  while (*link != nullptr) {
    DetectedDevice* first = *link;
    if (first->next == nullptr || first->next->outputPort != first->outputPort) {
      link = &first->next;
      continue;
    }
    MidiPort* output = first->outputPort;
    while (*link != nullptr && (*link)->outputPort == output) Unlink(link);
    ambiguous = true;
  }
  return ambiguous;
}

// Pass 2: of records with the same input and channel, the first one stays
// (the output that comes first in PortList).
void DropDuplicates() {
  for (DetectedDevice* keep = DeviceList; keep != nullptr; keep = keep->next) {
    DetectedDevice** link = &keep->next;
    while (*link != nullptr) {
      if ((*link)->inputPort == keep->inputPort && (*link)->channel == keep->channel) {
        Unlink(link);
      } else {
        link = &(*link)->next;
      }
    }
  }
}

}  // namespace

void FreeDeviceList() {
  while (DeviceList != nullptr) Unlink(&DeviceList);
}

int OnIdentityReply(MidiBuffer*, MidiPort* port, void* reply, const std::uint8_t* captures,
                    int count) {
  if (count < 6) return ListenerKeep;  // the pattern always captures six
  const char version[DeviceVersionSize] = {static_cast<char>(captures[2]),
                                           static_cast<char>(captures[3]),
                                           static_cast<char>(captures[4]),
                                           static_cast<char>(captures[5]), 0};
  return Record(port, reply, captures[1], captures[0], version);
}

int OnModelQueryReply(MidiBuffer*, MidiPort* port, void* reply, const std::uint8_t* captures,
                      int count) {
  if (count < 1) return ListenerKeep;
  return Record(port, reply, captures[0], 15, "1.ff");
}

std::int32_t ScanDevices(platform::WindowHandle owner) {
  // A workflow still holds a device of the last scan while its boxes are up.
  if (FlashWorkflowRunning()) return 0;
  FreeDeviceList();
  midi::ReopenLostPorts();

  std::uint32_t outputs = 0;
  std::uint32_t inputs = 0;
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    outputs += IsEnabledOutput(port) ? 1 : 0;
    inputs += IsEnabledInput(port) ? 1 : 0;
  }
  if (outputs == 0) {
    platform::Ui().MessageBox(owner, texts::SelectPortsText, texts::NoOutputCaption,
                              platform::BoxOk);
    return 0;
  }
  if (inputs == 0) {
    platform::Ui().MessageBox(owner, texts::SelectPortsText, texts::NoInputCaption,
                              platform::BoxOk);
    return 0;
  }

  progress::ProgressWindow* window = progress::OpenProgressWindow(
      platform::Installed().module, progress::ProgressModeBar | progress::ProgressModeStatus, owner,
      texts::ScanningText);
  std::uint32_t position = 1;
  std::int32_t answered = 0;
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (!IsEnabledOutput(port)) continue;
    progress::SetProgressPosition(window, position++, outputs);
    if (!IsAskable(port)) continue;
    char name[32];
    progress::SetProgressText(window, PortNameHoldMs, PortCopyName(port, name, sizeof name));
    if (AskOutput(port)) ++answered;
  }

  const bool ambiguous = DropAmbiguousOutputs();
  DropDuplicates();
  progress::CloseProgressWindow(window, 0);
  if (ambiguous) {
    platform::Ui().MessageBox(owner, texts::AmbiguousText, texts::AmbiguousCaption,
                              platform::BoxOk);
  }
  for (DetectedDevice* record = DeviceList; record != nullptr; record = record->next) {
    record->model = LookupModel(record->modelId);
    if (record->model->handler != nullptr) {
      record->model->handler(owner, record, ModelOpDetected, 0, 0);
    }
  }
  platform::Ui().EnableWindow(owner, true);
  return answered;
}

}  // namespace device
