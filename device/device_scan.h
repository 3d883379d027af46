// Device discovery: ask every enabled output who is there and collect the
// answers into the DeviceList.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/device_records.h"

struct MidiBuffer;

// The reply record both scan listeners share for the output being asked.
struct ScanReply {
  MidiPort* outputPort = nullptr;
  std::atomic<std::int32_t> replies{0};
};

// Returns the number of enabled outputs that produced at least one reply
// (counted before the clean-up); 0 when no output or no input is enabled.
std::int32_t ScanDevices(platform::WindowHandle owner);

// Frees every record of the DeviceList.
void FreeDeviceList();

int OnIdentityReply(MidiBuffer* header, MidiPort* port, void* reply,
                    const std::uint8_t* captures, int count);
int OnModelQueryReply(MidiBuffer* header, MidiPort* port, void* reply,
                      const std::uint8_t* captures, int count);
