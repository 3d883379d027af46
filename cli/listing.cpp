#include "cli/listing.h"

#include <cstdio>
#include <cstring>

#include "device/device_records.h"
#include "midi/transport_records.h"

namespace cli {
namespace {

constexpr std::size_t LineNameSize = 20;     // 19 characters in a device line
constexpr std::size_t DetailsNameSize = 30;  // 29 in the details
constexpr std::size_t LineSize = 100;
constexpr std::size_t DetailsSize = 1000;
constexpr std::size_t PortNameSize = 32;     // szPname: at most 31 characters shown
constexpr std::uint32_t UsbInterfaceMidPid = 0x01310001;

const char* ModelName(const DetectedDevice* device) {
  return device->model != nullptr && device->model->name != nullptr ? device->model->name : "Unknown";
}

}  // namespace

std::string PortItemText(const MidiPort* port) {
  char name[PortNameSize];
  PortCopyName(port, name, sizeof name);
  const bool input = (port->flags.load() & PortInput) != 0;
  char text[80];
  std::snprintf(text, sizeof text, "%s%02u[%04X %04X]: %s", input ? "In" : "Out",
                port->device & PortDeviceIndexMask, static_cast<unsigned>(port->caps.in.wMid),
                static_cast<unsigned>(port->caps.in.wPid), name);
  return text;
}

std::string DeviceLine(const DetectedDevice* device) {
  char input[LineNameSize];
  PortCopyName(device->inputPort, input, sizeof input);
  char line[LineSize];
  std::snprintf(line, sizeof line, "%s[%02X] V%s at %s Ch %d", ModelName(device), device->modelId,
                device->version, input, device->channel + 1);
  return line;
}

std::string DeviceDetails(const DetectedDevice* device, const char* imageVersion) {
  char input[DetailsNameSize];
  char output[DetailsNameSize];
  PortCopyName(device->inputPort, input, sizeof input);
  PortCopyName(device->outputPort, output, sizeof output);
  const char* note =
      PortMidPid(device->inputPort) == UsbInterfaceMidPid ? "\r\nFlashing over USB not supported!" : "";
  char details[DetailsSize];
  std::snprintf(details, sizeof details,
                "Device %s V%s\r\nMIDI-Input: %s\r\nMIDI-Output: %s\r\nUpdate to Version %s%s",
                ModelName(device), device->version, input, output, imageVersion, note);
  return details;
}

}  // namespace cli
