// Device discovery: ask every enabled output who is there and collect the
// answers into the DeviceList.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/device_records.h"
#include "midi/midi_buffer.h"

namespace device {

// The reply record both scan listeners share for the output being asked.
struct ScanReply {
  midi::MidiPort* outputPort = nullptr;
  std::atomic<std::int32_t> replies{0};
};

// Returns the number of enabled outputs that produced at least one reply
// (counted before the clean-up); 0 when no output or no input is enabled.
std::int32_t ScanDevices(platform::WindowHandle owner);

// Frees every record of the DeviceList.
void FreeDeviceList();

int OnIdentityReply(midi::MidiBuffer* header, midi::MidiPort* port, void* reply,
                    const std::uint8_t* captures, int count);
int OnModelQueryReply(midi::MidiBuffer* header, midi::MidiPort* port, void* reply,
                      const std::uint8_t* captures, int count);

}  // namespace device
