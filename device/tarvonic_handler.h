// The Tarvonic's model handler: the boot-loader check and the upload engine.
// Both run synchronously on the user-interface thread and talk to the
// instrument through the DetectedDevice's ports; replies arrive on the
// dispatcher thread and are handed over through the reply records below.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "device/device_records.h"

struct MidiBuffer;

// Filled by OnStatusReply on the dispatcher thread. `status` and `value` are
// written before `received` is published (release); the waiting code reads
// them only after it has seen `received` (acquire).
struct StatusReply {
  std::atomic<std::uint32_t> received{0};
  std::uint8_t status = 0;
  std::uint16_t value = 0;  // c2 * 128 + c3; read by nothing
};

struct StateReply {
  std::atomic<std::uint32_t> received{0};
  std::uint8_t data[2] = {};  // read by nothing
};

std::int32_t TarvonicHandler(platform::WindowHandle owner, DetectedDevice* device,
                             std::int32_t operation, std::int32_t, std::int32_t);

// 1 when a status reply (any code) proves the boot loader runs, else 0 after
// the "Warning: Wrong State" box.
std::int32_t CheckBootLoader(platform::WindowHandle owner, DetectedDevice* device);

// Sends the probe packet 50 times, then every SysEx event of `track` with
// flow control by status replies. True when the whole track went through.
bool UploadTrack(platform::WindowHandle owner, std::span<const std::uint8_t> track,
                 DetectedDevice* device);

int OnStatusReply(MidiBuffer* header, MidiPort* port, void* reply, const std::uint8_t* captures,
                  int count);
int OnStateReply(MidiBuffer* header, MidiPort* port, void* reply, const std::uint8_t* captures,
                 int count);
