// One full upload of the embedded image in a fresh simulated world: the
// transport on the simulated driver and the virtual clock, a virtual Tarvonic
// that answers every packet, and the host's UploadTrack.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/allocation_counter.h"
#include "platform/sim/sim_midi_driver.h"
#include "platform/sim/virtual_clock.h"

namespace bench {

struct UploadRunOptions {
  // The tests' configuration: the recording progress view and the driver's
  // traffic log. Without them the progress view is a silent one and the
  // driver keeps no record, so that only the protocol's own work remains.
  bool recording = false;
  int traceAllocations = 0;  // call stacks of the first allocations to keep
};

struct UploadRun {
  bool succeeded = false;
  bool firmwareIdentical = false;
  std::uint32_t virtualMs = 0;
  std::uint32_t startedAt = 0;
  // From the first track packet's send to the end of UploadTrack.
  AllocationCount allocations;
  bool counted = false;
  // Recording runs only: every chunk sent, every status reply's arrival,
  // every sleep of the uploading thread, every status text.
  std::vector<sim::SentChunk> sent;
  std::vector<std::uint32_t> replies;
  std::vector<sim::VirtualClock::SleepRecord> sleeps;
  std::vector<std::uint32_t> texts;  // when the upload's status texts were shown
};

UploadRun RunUpload(const UploadRunOptions& options);

}  // namespace bench
