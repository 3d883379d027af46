#include "bench/upload_run.h"

#include "device/device_records.h"
#include "device/messages.h"
#include "device/tarvonic_handler.h"
#include "device/upload_engine.h"
#include "emulator/virtual_firmware.h"
#include "emulator/virtual_tarvonic.h"
#include "emulator/world.h"
#include "image/firmware_image.h"
#include "midi/listeners.h"
#include "midi/port_registry.h"
#include "midi/transport_records.h"
#include "platform/firmware_resource.h"
#include "progress/progress_window_record.h"
#include "tests/midi/transport_testing.h"

using namespace image;
using namespace progress;
using namespace midi;
using namespace device;
using namespace emulator;

namespace bench {
namespace {

// A progress view that draws nothing and records nothing. Once armed, the
// first position it is told of (the upload's first track packet) opens the
// allocation count.
class SilentProgressView final : public platform::ProgressView {
 public:
  void Arm(int trace) {
    armed_ = true;
    trace_ = trace;
  }
  bool Counting() const { return counting_; }
  bool Start(ProgressWindow&) override { return true; }
  void WaitReady(ProgressWindow&, std::uint32_t) override {}
  void Repaint(ProgressWindow&, platform::ProgressChange change) override {
    if (!armed_ || change != platform::ProgressChange::Position) return;
    armed_ = false;
    counting_ = true;
    BeginAllocationCount(trace_);
  }
  bool Finish(ProgressWindow& window, std::uint32_t) override {
    ReleaseProgressWindowRecord(&window);  // the "thread" ends at once
    return true;
  }
  void Release(ProgressWindow&) override {}

 private:
  bool armed_ = false;
  bool counting_ = false;
  int trace_ = 0;
};

struct ReplyLog {
  std::vector<std::uint32_t> times;
  static int Record(MidiBuffer*, MidiPort*, void* log, const std::uint8_t*, int) {
    static_cast<ReplyLog*>(log)->times.push_back(platform::Time().TickCount());
    return ListenerKeep;
  }
};

MidiPort* FindPort(std::uint32_t device) {
  for (MidiPort* port = PortList; port != nullptr; port = port->next) {
    if (port->device == device) return port;
  }
  return nullptr;
}

}  // namespace

UploadRun RunUpload(const UploadRunOptions& options) {
  UploadRun run;
  emulator::World world;
  SilentProgressView silent;
  world.midi.AddInput({.name = "Tarvonic In"});
  world.midi.AddOutput({.name = "Tarvonic Out"});
  world.midi.RecordTraffic(options.recording);
  if (!options.recording) {
    platform::Install(
        {emulator::World::Module(), &world.midi, &world.clock, &world.dialogs, &silent});
  }
  const std::span<const std::uint8_t> file =
      platform::FindFirmwareResource(emulator::World::Module());
  if (MidiTransportInit(nullptr) != 1 || !LoadFirmwareImage(file) ||
      !PrepareProbePacket(TrackBytes(LoadedFirmwareImage()))) {
    MidiTransportShutdown();
    transport_testing::ResetTransport();
    return run;
  }
  const std::span<const std::uint8_t> track = TrackBytes(LoadedFirmwareImage());
  {
    emulator::VirtualTarvonic tarvonic(world.midi);
    tarvonic.AttachToOutput(0);
    DetectedDevice device;
    device.modelId = TarvonicModelId;
    device.model = LookupModel(TarvonicModelId);
    device.inputPort = FindPort(0);
    device.outputPort = FindPort(PortOutputMark);

    ReplyLog replies;
    SysExListener* listener = nullptr;
    bool observerArmed = true;
    if (options.recording) {
      replies.times.reserve(8192);
      listener = AddListener(nullptr, ReplyLog::Record, &replies, StatusReplyPattern.data());
      world.clock.RecordSleeps(true);
      world.clock.ClearSleeps();
      // The view copies its observer for every event: the flag lives here.
      world.progress.SetObserver([trace = options.traceAllocations,
                                  armed = &observerArmed](const progress::ProgressEvent& e) {
        if (*armed && e.kind == progress::ProgressEvent::Kind::Position) {
          *armed = false;
          BeginAllocationCount(trace);
        }
      });
    } else {
      silent.Arm(options.traceAllocations);
    }

    run.startedAt = world.clock.TickCount();
    run.succeeded = UploadTrack(nullptr, track, &device);
    run.counted = AllocationCountOpen();
    run.allocations = EndAllocationCount();
    run.virtualMs = world.clock.TickCount() - run.startedAt;

    if (options.recording) {
      RemoveListener(listener);
      world.progress.SetObserver(nullptr);
      run.sent = world.midi.Sent(0);
      run.replies = replies.times;
      run.sleeps = world.clock.Sleeps();
      for (const progress::ProgressEvent& e : world.progress.Events()) {
        if (e.kind == progress::ProgressEvent::Kind::Text &&
            platform::TickDiff(e.at, run.startedAt) >= 0) {
          run.texts.push_back(e.at);
        }
      }
    }
    run.firmwareIdentical = tarvonic.Firmware() == emulator::PlainFirmwareOfTrack(track);
  }
  MidiTransportShutdown();
  transport_testing::ResetTransport();
  return run;
}

}  // namespace bench
