// The soak of unattended uploads: a small image of the release's shape
// uploaded on the virtual clock into a virtual Tarvonic under a thousand
// seeded fault mixes (lost replies up to 6 %, late, refused and unknown
// answers, garbage, refused resynchronisations), each as `--yes` runs it.
// Prints how many completed with the whole firmware, the questions asked,
// the worst silence the host sat through and the longest upload, and every
// mix that did not complete (as --faults takes it, to run it again).
//
//   kf-fault-soak-bench [MIXES] [DATA-PACKETS]     (default 1000 and 8)
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "device/messages.h"
#include "device/upload_engine.h"
#include "image/firmware_image.h"
#include "midi/port_registry.h"
#include "midi/transport_records.h"
#include "tests/device/fault_soak.h"
#include "tests/device/test_images.h"
#include "tests/midi/transport_testing.h"

int main(int argc, char** argv) {
  const auto mixes = static_cast<std::uint32_t>(argc > 1 ? std::atoi(argv[1]) : 1000);
  const int dataPackets = argc > 2 ? std::atoi(argv[2]) : 8;
  const std::vector<std::uint8_t> file = test_images::ReleaseShape(dataPackets);
  emulator::World world;
  world.midi.AddInput({.name = "Tarvonic In"});
  world.midi.AddOutput({.name = "Tarvonic Out"});
  world.midi.RecordTraffic(false);
  if (midi::MidiTransportInit(nullptr) != 1 || !image::LoadFirmwareImage(file) ||
      !device::PrepareProbePacket(image::TrackBytes(image::LoadedFirmwareImage()))) {
    std::fprintf(stderr, "the soak's world did not start\n");
    return 1;
  }
  device::DetectedDevice device{.modelId = device::TarvonicModelId, .model = device::LookupModel(device::TarvonicModelId)};
  for (midi::MidiPort* port = midi::PortList; port != nullptr; port = port->next)
    (port->device == 0 ? device.inputPort : device.outputPort) = port;

  std::uint32_t completed = 0, whole = 0, asked = 0, worstSilenceMix = 0, longestMix = 0;
  fault_soak::Outcome worstSilence, longest;
  std::uint64_t totalMs = 0;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint32_t mix = 0; mix < mixes; ++mix) {
    const fault_soak::Outcome o = fault_soak::UploadUnder(world, device, fault_soak::Mix(mix));
    completed += o.completed ? 1 : 0;
    whole += o.firmwareWhole ? 1 : 0;
    asked += static_cast<std::uint32_t>(o.boxes);
    totalMs += o.durationMs;
    if (o.longestSilenceMs > worstSilence.longestSilenceMs) std::tie(worstSilence, worstSilenceMix) = std::pair(o, mix);
    if (o.durationMs > longest.durationMs) std::tie(longest, longestMix) = std::pair(o, mix);
    if (!o.completed || !o.firmwareWhole)
      std::printf("mix %u did not complete: --faults %s\n", mix, fault_soak::Describe(fault_soak::Mix(mix)).c_str());
  }
  const double realSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  midi::MidiTransportShutdown();
  transport_testing::ResetTransport();
  std::printf("fault soak: %u mixes, image of %d data packets, unattended: %u completed, %u firmware whole, "
              "%u questions asked\n  worst silence %u ms (mix %u: %s), longest upload %u ms (mix %u), mean %llu ms "
              "of virtual time, %.2f s real\n",
              mixes, dataPackets, completed, whole, asked, worstSilence.longestSilenceMs, worstSilenceMix,
              fault_soak::Describe(fault_soak::Mix(worstSilenceMix)).c_str(), longest.durationMs, longestMix,
              static_cast<unsigned long long>(mixes > 0 ? totalMs / mixes : 0), realSeconds);
  return 0;
}
