// The soak of unattended uploads under seeded fault mixes, shared by the
// soak program (bench/fault_soak_bench.cpp) and its short run among the
// tests: the mixes, and one upload measured by what the host heard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_records.h"
#include "emulator/virtual_faults.h"
#include "emulator/world.h"

namespace fault_soak {

// Mix 0 has the seed and rates a soak of dry runs found an upload giving up
// under (seed 2938, 6 % of replies lost); every other mix draws each of its
// rates from zero up to mix 0's, and codes 2 and 4 from zero up to 3 %, from
// its own seed.
emulator::FaultRates Mix(std::uint32_t index);
// As --faults takes it.
std::string Describe(const emulator::FaultRates& rates);

struct Outcome {
  bool completed = false;      // UploadTrack succeeded
  bool firmwareWhole = false;  // the instrument wrote the image's plain firmware
  // The one outcome a flasher must never have: success reported over firmware
  // that is not the image's.
  bool SilentCorruption() const { return completed && !firmwareWhole; }
  std::size_t boxes = 0;       // questions the upload asked
  std::uint32_t durationMs = 0;
  std::uint32_t longestSilenceMs = 0;  // longest stretch without a status reply
};

// One unattended upload of the loaded image, on `world` with the transport
// started, into a virtual Tarvonic with `rates` on the ports `device` names
// (input 0, output 0). Every question is answered Cancel, as --yes does.
Outcome UploadUnder(emulator::World& world, device::DetectedDevice& device,
                    const emulator::FaultRates& rates);

}  // namespace fault_soak
