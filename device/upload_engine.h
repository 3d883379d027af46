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
#include <cstdint>
#include <span>

#include "device/device_records.h"
#include "midi/midi_buffer.h"
#include "midi/transport_records.h"

namespace device {

// A status reply as the waiting code sees it.
struct StatusReplyFact {
  bool received = false;
  std::uint8_t status = 0;   // capture c1 of the reply
  std::uint16_t value = 0;   // c2 * 128 + c3; read by nothing
};

// Filled by OnStatusReply on the dispatcher thread, polled by the waiting
// code. A duplicate or late reply can arrive while the waiting code reads the
// one before it, so `received`, `status` and `value` travel as one atomic
// word, published with release ordering and read with acquire: the code the
// waiting code acts on always belongs to the reply whose arrival it saw.
class StatusReply {
 public:
  void Clear() { word_.store(0, std::memory_order_relaxed); }
  void Publish(std::uint8_t status, std::uint16_t value) {
    word_.store(ReceivedBit | std::uint32_t{status} << 16 | value, std::memory_order_release);
  }
  StatusReplyFact Read() const {
    const std::uint32_t word = word_.load(std::memory_order_acquire);
    return {(word & ReceivedBit) != 0, static_cast<std::uint8_t>(word >> 16),
            static_cast<std::uint16_t>(word & 0xFFFF)};
  }

 private:
  static constexpr std::uint32_t ReceivedBit = 1u << 31;
  std::atomic<std::uint32_t> word_{0};
};

// How an upload ended.
enum class UploadResult {
  Complete,       // the whole track went through
  Failed,         // the user has been told why, stopped it, or the track is broken
  InterfaceLost,  // a port of the device went away (unplugged); the user has been told
};

// Sends the probe packet 50 times, then every SysEx event of `track` with
// flow control by status replies. Tells the dialogs seam when it starts and
// ends, and stops sending when the seam reports a stop request
// (Dialogs::StopRequested) or a port of the device is lost (PortLost): the
// latter ends with one box that names the port and says what to do.
UploadResult UploadTrack(platform::WindowHandle owner, std::span<const std::uint8_t> track,
                         DetectedDevice* device);

int OnStatusReply(midi::MidiBuffer* header, midi::MidiPort* port, void* reply,
                  const std::uint8_t* captures, int count);

// Takes the first header packet of `track`. False when CheckUploadable
// (device/upload_packets.h) refuses the track: the program then refuses the
// image at start.
bool PrepareProbePacket(std::span<const std::uint8_t> track);
// Empty until PrepareProbePacket succeeded.
std::span<const std::uint8_t> ProbePacket();

}  // namespace device
