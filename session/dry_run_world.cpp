#include "session/dry_run_world.h"

#include "emulator/virtual_firmware.h"

namespace session {

namespace {

// The ports exist before the instrument attaches to the output.
sim::SimMidiDriver& WithVirtualPorts(emulator::World& world) {
  world.midi.AddInput({.name = VirtualPortName});
  world.midi.AddOutput({.name = VirtualPortName});
  // Only the transcript reads the traffic; the driver need not keep it.
  world.midi.RecordTraffic(false);
  return world.midi;
}

}  // namespace

DryRunWorld::DryRunWorld(const std::optional<emulator::FaultRates>& faults)
    : tarvonic_(WithVirtualPorts(world_)) {
  tarvonic_.AttachToOutput(0);
  if (faults) tarvonic_.SetFaults(*faults);
}

bool DryRunWorld::WroteFirmwareOf(std::span<const std::uint8_t> track) const {
  return tarvonic_.Firmware() == emulator::PlainFirmwareOfTrack(track);
}

}  // namespace session
