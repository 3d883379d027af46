#include "tests/device/fault_soak.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "device/messages.h"
#include "device/upload_engine.h"
#include "emulator/virtual_firmware.h"
#include "emulator/virtual_tarvonic.h"
#include "image/firmware_image.h"
#include "midi/listeners.h"

namespace fault_soak {
namespace {

// Status replies as the host's input hears them, lost ones not at all.
struct ReplyTimes {
  std::vector<std::uint32_t> at;
  static int Record(midi::MidiBuffer*, midi::MidiPort*, void* self, const std::uint8_t*, int) {
    static_cast<ReplyTimes*>(self)->at.push_back(platform::Time().TickCount());
    return midi::ListenerKeep;
  }
};

// Long enough for a late answer of the last upload to have arrived.
constexpr std::uint32_t SettleMs = 60000;

}  // namespace

emulator::FaultRates Mix(std::uint32_t index) {
  emulator::FaultRates rates{.seed = 2938, .drop = 0.06, .late = 0.01, .code1 = 0.06, .other = 0.03, .garbage = 0.03,
                             .resyncFail = 0.2};
  if (index == 0) return rates;
  std::mt19937 random(index);
  rates.seed = index;
  rates.code2 = 0.03;
  rates.code4 = 0.03;
  for (double* rate : {&rates.drop, &rates.late, &rates.code1, &rates.other, &rates.garbage, &rates.resyncFail,
                       &rates.code2, &rates.code4})
    *rate *= static_cast<double>(random()) / 4294967296.0;
  return rates;
}

std::string Describe(const emulator::FaultRates& r) {
  char text[200];
  std::snprintf(text, sizeof text,
                "seed=%u,drop=%.4f,late=%.4f,code1=%.4f,code2=%.4f,code4=%.4f,other=%.4f,garbage=%.4f,"
                "resync-fail=%.4f",
                r.seed, r.drop, r.late, r.code1, r.code2, r.code4, r.other, r.garbage, r.resyncFail);
  return text;
}

Outcome UploadUnder(emulator::World& world, device::DetectedDevice& device,
                    const emulator::FaultRates& rates) {
  world.dialogs.SetUnattended(true);
  world.dialogs.SetDefaultAnswer(platform::IdCancel);
  const std::span<const std::uint8_t> track = image::TrackBytes(image::LoadedFirmwareImage());
  emulator::VirtualTarvonic tarvonic(world.midi);
  tarvonic.AttachToOutput(0);
  tarvonic.SetFaults(rates);
  ReplyTimes replies;
  midi::SysExListener* listener = midi::AddListener(device.inputPort, ReplyTimes::Record, &replies,
                                                    device::StatusReplyPattern.data());
  const std::size_t boxes = world.dialogs.Boxes().size();
  const std::uint32_t start = world.clock.TickCount();

  Outcome outcome;
  outcome.completed = device::UploadTrack(nullptr, track, &device) == device::UploadResult::Complete;
  const std::uint32_t end = world.clock.TickCount();
  midi::RemoveListener(listener);
  outcome.durationMs = end - start;
  outcome.boxes = world.dialogs.Boxes().size() - boxes;
  std::uint32_t last = start;
  for (const std::uint32_t at : replies.at) {
    outcome.longestSilenceMs = std::max(outcome.longestSilenceMs, at - last);
    last = at;
  }
  outcome.longestSilenceMs = std::max(outcome.longestSilenceMs, end - last);
  outcome.firmwareWhole = tarvonic.Firmware() == emulator::PlainFirmwareOfTrack(track);
  world.clock.Sleep(SettleMs);
  return outcome;
}

}  // namespace fault_soak
