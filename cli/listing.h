// The texts the command line lists ports and devices with: the Ports page's
// item text and the Flash page's device line and details, so that what a
// user reads on the terminal matches the Windows program.
#pragma once

#include <string>

struct MidiPort;
struct DetectedDevice;

namespace cli {

// "In03[0041 0102]: name" / "Out00[...]: name".
std::string PortItemText(const MidiPort* port);
// "Tarvonic[41] V1.90 at name Ch 1" (input name cut to 19 characters).
std::string DeviceLine(const DetectedDevice* device);
// "Device ... V...\r\nMIDI-Input: ...\r\nMIDI-Output: ...\r\nUpdate to Version ..."
// with the note on USB inputs; `imageVersion` is the firmware image's.
std::string DeviceDetails(const DetectedDevice* device, const char* imageVersion);

}  // namespace cli
