// The texts the Flash page shows, apart from the window plumbing: one line of
// the device list per DetectedDevice, and the selected device's details.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/device_records.h"

inline constexpr std::size_t DeviceLineSize = 100;
inline constexpr std::size_t DeviceDetailsSize = 1000;
// Port names are cut to 19 characters in a list line and to 29 in the
// details, so that a long driver name cannot push the rest out of view.
inline constexpr std::size_t LineInputNameSize = 20;
inline constexpr std::size_t DetailsPortNameSize = 30;

inline constexpr char NoDevicesLine[] = "Press Scan to search for Devices";
// Interfaces with this maker and product (PortMidPid) carry MIDI over USB,
// where the boot loader's flow control is not reliable.
inline constexpr std::uint32_t UsbInterfaceMidPid = 0x01310001;
inline constexpr char UsbNote[] = "\r\nFlashing over USB not supported!";

// "Tarvonic[41] V1.90 at <input name> Ch 1". Always terminated.
void FormatDeviceLine(const DetectedDevice& device, char (&line)[DeviceLineSize]);

// Model, version, both port names, the image's version and, for an input on
// a USB interface, the note. Always terminated.
void FormatDeviceDetails(const DetectedDevice& device, const char* imageVersion,
                         char (&details)[DeviceDetailsSize]);
