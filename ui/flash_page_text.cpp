#include "ui/flash_page_text.h"

#include <cstdio>

#include "midi/transport_records.h"

namespace {

// A device whose scan has not assigned a model yet has no name to show.
const char* ModelName(const DetectedDevice& device) {
  return device.model != nullptr && device.model->name != nullptr ? device.model->name : "";
}

}  // namespace

void FormatDeviceLine(const DetectedDevice& device, char (&line)[DeviceLineSize]) {
  char input[LineInputNameSize];
  PortCopyName(device.inputPort, input, sizeof input);
  std::snprintf(line, sizeof line, "%s[%02X] V%s at %s Ch %d", ModelName(device),
                unsigned{device.modelId}, device.version, input, device.channel + 1);
}

void FormatDeviceDetails(const DetectedDevice& device, const char* imageVersion,
                         char (&details)[DeviceDetailsSize]) {
  char input[DetailsPortNameSize];
  char output[DetailsPortNameSize];
  PortCopyName(device.inputPort, input, sizeof input);
  PortCopyName(device.outputPort, output, sizeof output);
  // Only the input decides: the instrument's replies travel on it.
  const char* note = PortMidPid(device.inputPort) == UsbInterfaceMidPid ? UsbNote : "";
  std::snprintf(details, sizeof details,
                "Device %s V%s\r\nMIDI-Input: %s\r\nMIDI-Output: %s\r\nUpdate to Version %s%s",
                ModelName(device), device.version, input, output,
                imageVersion != nullptr ? imageVersion : "", note);
}
