#include "texts/user_texts.h"

#include <algorithm>
#include <cstdio>

namespace texts {
namespace {

constexpr std::size_t LineNameLimit = 19;
constexpr std::size_t DetailsNameLimit = 29;
constexpr std::size_t PortNameLimit = 31;

// printf's "%.*s" wants an int length and a pointer that is never none,
// even for an empty view.
int Shown(std::string_view text, std::size_t limit) {
  return static_cast<int>(std::min(text.size(), limit));
}
const char* Data(std::string_view text) { return text.empty() ? "" : text.data(); }

}  // namespace

void FormatPortItem(const PortFacts* port, std::span<char> text) {
  if (text.empty()) return;
  if (port == nullptr) {
    std::snprintf(text.data(), text.size(), "%s", NoPortText);
    return;
  }
  std::snprintf(text.data(), text.size(), "%s%02u[%04X %04X]: %.*s", port->input ? "In" : "Out",
                static_cast<unsigned>(port->index), unsigned{port->mid}, unsigned{port->pid},
                Shown(port->name, PortNameLimit), Data(port->name));
}

void FormatVersionLabel(std::string_view version, bool development,
                        std::span<char, VersionLabelSize> label) {
  std::snprintf(label.data(), label.size(), "%.*s%s", Shown(version, label.size()),
                Data(version), development ? DevelopmentMark : "");
}

void FormatDeviceLine(const DeviceFacts& device, std::span<char, DeviceLineSize> line) {
  std::snprintf(line.data(), line.size(), "%.*s[%02X] V%.*s at %.*s Ch %d",
                Shown(device.model, DeviceLineSize), Data(device.model), unsigned{device.modelId},
                Shown(device.version, DeviceLineSize), Data(device.version),
                Shown(device.input, LineNameLimit), Data(device.input), device.channel + 1);
}

void FormatDeviceDetails(const DeviceFacts& device, std::string_view imageVersion,
                         std::span<char, DeviceDetailsSize> details) {
  const char* note = device.inputMidPid == UsbInterfaceMidPid ? UsbNote : "";
  std::snprintf(
      details.data(), details.size(),
      "Device %.*s V%.*s\r\nMIDI-Input: %.*s\r\nMIDI-Output: %.*s\r\nUpdate to Version %.*s%s",
      Shown(device.model, DeviceDetailsSize), Data(device.model),
      Shown(device.version, DeviceDetailsSize), Data(device.version),
      Shown(device.input, DetailsNameLimit), Data(device.input),
      Shown(device.output, DetailsNameLimit), Data(device.output),
      Shown(imageVersion, DeviceDetailsSize), Data(imageVersion), note);
}

}  // namespace texts
