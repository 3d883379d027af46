// The records that connect discovery, the model table, the upload engine and
// the Flash page: one DetectedDevice per instrument a scan found, the list
// that holds them, what the system knows of a model, and the operations the
// flash workflow asks a model's handler to carry out.
#pragma once

#include <cstdint>
#include <span>

#include "midi/transport_records.h"
#include "platform/dialogs.h"
#include "texts/user_texts.h"

namespace device {

struct ModelDescriptor;

inline constexpr std::size_t DeviceVersionSize = 5;  // four characters and a NUL

struct DetectedDevice {
  DetectedDevice* next = nullptr;
  std::uint8_t modelId = 0;   // family-code low byte, or the model-query reply's model byte
  std::uint8_t channel = 0;   // 0-based; 15 for a model-query reply; shown as channel + 1
  char version[DeviceVersionSize] = {};
  const ModelDescriptor* model = nullptr;  // assigned at the end of the scan; never none after it
  midi::MidiPort* inputPort = nullptr;     // where the reply arrived
  midi::MidiPort* outputPort = nullptr;    // where the answered request went
};

// Head of the scan's result, in list order. Written only by the scan, on the
// user-interface thread (and by its listeners while the scan waits).
extern DetectedDevice* DeviceList;

// Operation codes of a ModelHandler.
enum ModelOp : std::int32_t {
  ModelOpDetected = 1,        // a scan kept the device
  ModelOpFlashRequested = 2,  // first step of the workflow
  ModelOpCheckState = 3,      // 1: the device is ready to be flashed
  ModelOpAbandon = 4,         // the workflow ended before the upload
  ModelOpUpload = 5,          // 1: the upload succeeded; ModelUploadLost: see there
};
// ModelOpUpload's answer when the device's MIDI interface went away during
// the upload; the handler has told the user what that means.
inline constexpr std::int32_t ModelUploadLost = 2;

// (owner window, device, operation, two arguments every caller passes as 0).
using ModelHandler = std::int32_t (*)(platform::WindowHandle owner, DetectedDevice* device,
                                      std::int32_t operation, std::int32_t, std::int32_t);

struct ModelDescriptor {
  std::uint8_t id;
  const char* name;
  ModelHandler handler;  // none: the model is listed but cannot be flashed
};

// The model table: what the system knows of each instrument model, looked up
// by the model id a scan found. The Tarvonic is the one model that can be
// flashed.
extern const ModelDescriptor UnknownModel;  // id 0, "Unknown", no handler
std::span<const ModelDescriptor* const> ModelTable();
// The first table entry with this id, or UnknownModel.
const ModelDescriptor* LookupModel(std::uint8_t modelId);

// What the Flash page and the command line show of a device. A device whose
// model the scan has not assigned yet reads like one of an unknown model,
// "Unknown": the name it will have once the scan has looked it up.
texts::DeviceFacts DescribeDevice(const DetectedDevice& device);

}  // namespace device
