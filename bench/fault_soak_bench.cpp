// The soak of unattended uploads: an image of the release's shape with one-
// and two-byte data packets (where a re-scrambled attempt can equal the one
// before it, and packets in a row can be identical on the wire) uploaded on
// the virtual clock into a virtual Tarvonic under ten thousand seeded fault
// mixes (lost replies up to 6 %, late, refused with codes 1, 2 and 4,
// unknown codes, garbage, refused resynchronisations), each as `--yes` runs
// it. Prints the completions, the honest failures (the upload reported that
// it failed) apart from the silent corruptions (it reported success over
// firmware that is not the image's), the questions asked, the worst silence
// and the longest upload, and every mix that did not complete whole (as
// --faults takes it, to run it again).
//
//   kf-fault-soak-bench [MIXES] [DATA-PACKETS]     (default 10000 and 256)
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
  const auto mixes = static_cast<std::uint32_t>(argc > 1 ? std::atoi(argv[1]) : 10000);
  const int dataPackets = argc > 2 ? std::atoi(argv[2]) : 256;
  const std::vector<std::uint8_t> file = test_images::ShortPackets(dataPackets);
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

  std::uint32_t whole = 0, failed = 0, silent = 0, asked = 0, worstSilenceMix = 0, longestMix = 0;
  fault_soak::Outcome worstSilence, longest;
  std::uint64_t totalMs = 0;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint32_t mix = 0; mix < mixes; ++mix) {
    const fault_soak::Outcome o = fault_soak::UploadUnder(world, device, fault_soak::Mix(mix));
    whole += o.completed && o.firmwareWhole ? 1 : 0;
    failed += o.completed ? 0 : 1;
    silent += o.SilentCorruption() ? 1 : 0;
    asked += static_cast<std::uint32_t>(o.boxes);
    totalMs += o.durationMs;
    if (o.longestSilenceMs > worstSilence.longestSilenceMs) std::tie(worstSilence, worstSilenceMix) = std::pair(o, mix);
    if (o.durationMs > longest.durationMs) std::tie(longest, longestMix) = std::pair(o, mix);
    if (!o.completed || !o.firmwareWhole)
      std::printf("mix %u %s: --faults %s\n", mix, o.completed ? "SILENT CORRUPTION" : "failed, and said so",
                  fault_soak::Describe(fault_soak::Mix(mix)).c_str());
  }
  const double realSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  midi::MidiTransportShutdown();
  transport_testing::ResetTransport();
  std::printf("fault soak: %u mixes, image of %d one- and two-byte data packets, unattended:\n"
              "  %u completed with the whole firmware, %u failed and said so, %u silent corruptions "
              "(\"complete\" over wrong firmware); %u questions asked\n"
              "  worst silence %u ms (mix %u: %s), longest upload %u ms (mix %u), mean %llu ms "
              "of virtual time, %.2f s real\n",
              mixes, dataPackets, whole, failed, silent, asked, worstSilence.longestSilenceMs, worstSilenceMix,
              fault_soak::Describe(fault_soak::Mix(worstSilenceMix)).c_str(), longest.durationMs, longestMix,
              static_cast<unsigned long long>(mixes > 0 ? totalMs / mixes : 0), realSeconds);
  return 0;
}
