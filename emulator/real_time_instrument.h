// The virtual Tarvonic on the real clock, for hosts that carry real MIDI
// bytes: `kelmora-flash emulate` (RtMidi ports) and the MIDI driver for Wine.
//
// The instrument runs in its simulated world exactly as in a dry run, with a
// virtual clock that a pump thread of its own advances in step with real
// time, a millisecond at a time: reply delays, late answers and wire times
// stay what they are in the dry run. Hear() takes what the host sent, in any
// chunking, from any thread; the pump thread joins it into whole SysEx
// messages by the transport's own rules (midi/sysex_assembly.h) and hands
// them to the instrument. Each message the
// instrument sends comes back whole through the answer callback, on the pump
// thread, with the virtual time it left at.
//
// Teardown: Stop() (or the destructor) ends the pump thread; after it no
// callback runs and Firmware() and Stats() are final.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "device/upload_packets.h"
#include "emulator/virtual_faults.h"
#include "emulator/virtual_tarvonic.h"
#include "midi/sysex_assembly.h"

namespace emulator {

// A whole SysEx message (F0 .. F7) and the virtual milliseconds it was at.
using MessageSink = std::function<void(std::span<const std::uint8_t> message, std::uint32_t at)>;

struct InstrumentSetup {
  std::optional<FaultRates> faults;
  MessageSink answer;  // what the instrument sends
  MessageSink heard;   // optional: each message as the instrument hears it
};

class RealTimeInstrument {
 public:
  explicit RealTimeInstrument(InstrumentSetup setup);
  ~RealTimeInstrument();
  RealTimeInstrument(const RealTimeInstrument&) = delete;
  RealTimeInstrument& operator=(const RealTimeInstrument&) = delete;

  void Hear(std::span<const std::uint8_t> bytes);
  void Stop();

  std::vector<std::uint8_t> Firmware() const { return tarvonic_->Firmware(); }
  TarvonicStats Stats() const { return tarvonic_->Stats(); }
  std::uint64_t MessagesHeard() const { return heardCount_.load(std::memory_order_acquire); }

 private:
  static constexpr int ReplyBuffers = 4;
  static constexpr std::uint32_t ReplyBufferBytes = 128;

  void Pump();
  static void ReplyCallback(platform::MidiHandle handle, std::uint32_t message, std::uintptr_t instance,
                            std::uintptr_t param1, std::uintptr_t param2);

  InstrumentSetup setup_;
  sim::VirtualClock clock_;
  sim::SimMidiDriver driver_{clock_};
  platform::MidiHandle replyInput_ = nullptr;
  std::array<platform::MidiHeader, ReplyBuffers> headers_{};
  std::array<std::array<char, ReplyBufferBytes>, ReplyBuffers> data_{};
  midi::SysExAssembly reply_{};  // pump thread only
  // Room for the longest packet the upload sends; pump thread only.
  midi::BasicSysExAssembly<device::PacketCapacity> heard_{};
  std::unique_ptr<VirtualTarvonic> tarvonic_;

  std::mutex inboxMutex_;
  std::vector<std::uint8_t> inbox_;  // what the host sent, not yet joined
  std::atomic<std::uint64_t> heardCount_{0};
  std::atomic<bool> stop_{false};
  std::thread pump_;  // started last in the constructor, once all of the above is ready
};

}  // namespace emulator
