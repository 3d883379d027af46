// The upload engine: the probe phase, then every event of the image's track,
// each SysEx event as one packet with flow control by the instrument's status
// replies, retries and resynchronisation. It runs synchronously on the
// user-interface thread; replies arrive on the dispatcher thread and are
// handed over through a StatusReply record.
//
// The probe packet is the image's own header packet, byte for byte, taken
// from the image at start-up so that the two can never differ.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/device_records.h"
#include "midi/midi_buffer.h"
#include "midi/transport_records.h"

namespace device {

// Filled by OnStatusReply on the dispatcher thread. `status` and `value` are
// written before `received` is published (release); the waiting code reads
// them only after it has seen `received` (acquire).
struct StatusReply {
  std::atomic<std::uint32_t> received{0};
  std::uint8_t status = 0;
  std::uint16_t value = 0;  // c2 * 128 + c3; read by nothing
};

// Sends the probe packet 50 times, then every SysEx event of `track` with
// flow control by status replies. True when the whole track went through.
bool UploadTrack(platform::WindowHandle owner, std::span<const std::uint8_t> track,
                 DetectedDevice* device);

int OnStatusReply(midi::MidiBuffer* header, midi::MidiPort* port, void* reply,
                  const std::uint8_t* captures, int count);

// Why the upload could not send `track` to its end. The instrument erases its
// flash early in an upload, so a track the engine would give up on part-way
// must be refused before anything is sent: an event the walk rejects, a
// packet longer than the engine's buffers, or no header packet to take the
// probe from. The check builds every packet with the engine's own code.
inline constexpr std::size_t UploadRefusalSize = 200;
struct UploadRefusal {
  bool refused = false;
  char reason[UploadRefusalSize] = {};  // what cannot be sent, where, and why
};
UploadRefusal CheckUploadable(std::span<const std::uint8_t> track);

// Takes the first header packet of `track`. False when CheckUploadable
// refuses the track: the program then refuses the image at start.
bool PrepareProbePacket(std::span<const std::uint8_t> track);
// Empty until PrepareProbePacket succeeded.
std::span<const std::uint8_t> ProbePacket();

}  // namespace device
