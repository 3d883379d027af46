// The world of a dry run: the simulated MIDI system with one input and one
// output named "Virtual Tarvonic", and the virtual Tarvonic (V1.90, in its
// boot loader) behind them, with the faults the user asked for. The command
// line's --virtual and the page's virtual instrument both flash into it, so
// that the same image, faults and answers give the same transcript, byte for
// byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "emulator/virtual_faults.h"
#include "emulator/virtual_tarvonic.h"
#include "emulator/world.h"

namespace session {

inline constexpr const char* VirtualPortName = "Virtual Tarvonic";

class DryRunWorld {
 public:
  explicit DryRunWorld(const std::optional<emulator::FaultRates>& faults);
  DryRunWorld(const DryRunWorld&) = delete;
  DryRunWorld& operator=(const DryRunWorld&) = delete;

  emulator::World& World() { return world_; }
  emulator::VirtualTarvonic& Instrument() { return tarvonic_; }
  // True when the instrument holds the plain firmware of `track`, whole.
  bool WroteFirmwareOf(std::span<const std::uint8_t> track) const;

 private:
  emulator::World world_;
  // After the world: it only hands bytes to the world's driver, which must
  // outlive it.
  emulator::VirtualTarvonic tarvonic_;
};

}  // namespace session
