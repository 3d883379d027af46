#include "device/device_records.h"

#include "device/tarvonic_handler.h"
#include "midi/transport_records.h"

namespace device {

namespace {
const ModelDescriptor Tarvonic{0x41, "Tarvonic", TarvonicHandler};
const ModelDescriptor* const Models[] = {&Tarvonic};
}  // namespace

const ModelDescriptor UnknownModel{0, "Unknown", nullptr};

std::span<const ModelDescriptor* const> ModelTable() { return Models; }

const ModelDescriptor* LookupModel(std::uint8_t modelId) {
  for (const ModelDescriptor* model : Models) {
    if (model->id == modelId) return model;
  }
  return &UnknownModel;
}

texts::DeviceFacts DescribeDevice(const DetectedDevice& device) {
  const ModelDescriptor* model = device.model != nullptr ? device.model : &UnknownModel;
  return {.model = model->name != nullptr ? model->name : UnknownModel.name,
          .modelId = device.modelId,
          .version = device.version,
          .input = PortName(device.inputPort),
          .output = PortName(device.outputPort),
          .channel = device.channel,
          .inputMidPid = PortMidPid(device.inputPort)};
}

}  // namespace device
