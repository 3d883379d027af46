// The Tarvonic's model handler and its boot-loader check (the upload engine
// is in upload_engine.h). Both run synchronously on the user-interface thread and talk to the
// instrument through the DetectedDevice's ports; replies arrive on the
// dispatcher thread and are handed over through the reply records below.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "device/device_records.h"
#include "midi/midi_buffer.h"

namespace device {

struct StateReply {
  std::atomic<std::uint32_t> received{0};
  std::uint8_t data[2] = {};  // read by nothing
};

std::int32_t TarvonicHandler(platform::WindowHandle owner, DetectedDevice* device,
                             std::int32_t operation, std::int32_t, std::int32_t);

// 1 when a status reply (any code) proves the boot loader runs, else 0 after
// the "Warning: Wrong State" box.
std::int32_t CheckBootLoader(platform::WindowHandle owner, DetectedDevice* device);

int OnStateReply(midi::MidiBuffer* header, midi::MidiPort* port, void* reply,
                 const std::uint8_t* captures, int count);

}  // namespace device
