// The upload of the embedded image on the virtual clock into a virtual
// Tarvonic that answers every packet, under Google Benchmark: what it costs
// in real and CPU time (set-up included), its virtual duration, and how many
// heap allocations it makes from the first track packet on, on the uploading
// thread and in all (the send path should make none).
//
//   kf-upload-bench [Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <utility>

#include "bench/allocation_counter.h"
#include "device/device_records.h"
#include "device/messages.h"
#include "device/upload_engine.h"
#include "emulator/virtual_firmware.h"
#include "emulator/virtual_tarvonic.h"
#include "emulator/world.h"
#include "image/firmware_image.h"
#include "midi/port_registry.h"
#include "midi/transport_records.h"
#include "platform/firmware_resource.h"
#include "progress/progress_window_record.h"
#include "tests/midi/transport_testing.h"

namespace {

// A progress view that draws and records nothing, so that only the
// protocol's own work remains; the first position it is told of (the first
// track packet) opens the allocation count.
class SilentProgressView final : public platform::ProgressView {
 public:
  bool Start(progress::ProgressWindow&) override { return true; }
  void WaitReady(progress::ProgressWindow&, std::uint32_t) override {}
  void Repaint(progress::ProgressWindow&, platform::ProgressChange change) override {
    if (change == platform::ProgressChange::Position && !std::exchange(counted, true)) bench::BeginAllocationCount();
  }
  bool Finish(progress::ProgressWindow& window, std::uint32_t) override {
    progress::ReleaseProgressWindowRecord(&window);  // the "thread" ends at once
    return true;
  }
  void Release(progress::ProgressWindow&) override {}
  bool counted = false;
};

// One upload, its figures as the benchmark's counters; false when it failed
// or the instrument did not write the image's plain firmware.
bool UploadOnce(benchmark::State& state) {
  bool whole = false;
  emulator::World world;
  SilentProgressView silent;
  world.midi.AddInput({.name = "Tarvonic In"});
  world.midi.AddOutput({.name = "Tarvonic Out"});
  world.midi.RecordTraffic(false);
  platform::Install({emulator::World::Module(), &world.midi, &world.clock, &world.dialogs, &silent});
  if (midi::MidiTransportInit(nullptr) == 1 &&
      image::LoadFirmwareImage(platform::FindFirmwareResource(emulator::World::Module())) &&
      device::PrepareProbePacket(image::TrackBytes(image::LoadedFirmwareImage()))) {
    const std::span<const std::uint8_t> track = image::TrackBytes(image::LoadedFirmwareImage());
    emulator::VirtualTarvonic tarvonic(world.midi);
    tarvonic.AttachToOutput(0);
    device::DetectedDevice device{.model = device::LookupModel(device::TarvonicModelId)};
    for (midi::MidiPort* port = midi::PortList; port != nullptr; port = port->next)
      (port->device == 0 ? device.inputPort : device.outputPort) = port;
    const std::uint32_t start = world.clock.TickCount();
    const bool done = device::UploadTrack(nullptr, track, &device) == device::UploadResult::Complete;
    const bench::AllocationCount allocations = bench::EndAllocationCount();
    state.counters["virtual_ms"] = world.clock.TickCount() - start;
    state.counters["allocs_uploading_thread"] = static_cast<double>(allocations.thisThread);
    state.counters["allocs_all_threads"] = static_cast<double>(allocations.allThreads);
    whole = done && tarvonic.Firmware() == emulator::PlainFirmwareOfTrack(track);
  }
  midi::MidiTransportShutdown();
  transport_testing::ResetTransport();
  return whole;
}

void Upload(benchmark::State& state) {
  for (auto _ : state)
    if (!UploadOnce(state)) state.SkipWithError("the upload failed or the firmware differs");
}
BENCHMARK(Upload)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
