// Faults of the virtual Tarvonic: what goes wrong with its answer to one
// upload packet. Decided deterministically, either from a seed and rates (the
// same keys as the command line's --faults) or by a script that a test writes
// for particular packets.
//
// What each fault means for the instrument (virtual_tarvonic.h says how it
// keeps its keystream in step with the host through all of them):
//   Drop        it handles the packet and answers, but the answer is lost
//               on the way back (the host hears nothing);
//   Late        it is busy past the host's reply budget and answers then; what
//               the host sends meanwhile is lost (a boot loader writing flash
//               does not listen);
//   Code1/2/4   it answers with that code instead of accepting the packet;
//   OtherCode   it answers with a code above 4 (unknown to the host);
//   OtherInput  its answer comes out on the stray input (not the one the
//               host listens on), or is lost when it has none;
//   BothInputs  its answer comes out on its inputs and on the stray one;
//   RefuseResync  a resynchronisation probe is not answered with 3: the
//               instrument ignores it, or answers the refusal code when one
//               is configured.
// Garbage, on top of any of these, puts a SysEx message that is no reply in
// front of the answer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "device/keystream.h"

namespace emulator {

enum class PacketFault : std::uint8_t {
  None,
  Drop,
  Late,
  Code1,
  Code2,
  Code4,
  OtherCode,
  OtherInput,
  BothInputs,
  RefuseResync,
};
inline constexpr int PacketFaultKinds = 10;
const char* PacketFaultName(PacketFault fault);

struct FaultDecision {
  PacketFault fault = PacketFault::None;
  bool garbage = false;
  std::uint8_t otherCode = 5;  // for OtherCode: 5 to 127
  // Scripts only: the answer comes this long after the packet instead of
  // after the configured delay (Late still decides on its own).
  std::optional<std::uint32_t> delayMs = std::nullopt;
};

// Probabilities per packet. The reply faults (drop to other) exclude each
// other and must add up to at most 1; garbage and resync-fail are drawn on
// their own.
struct FaultRates {
  std::uint32_t seed = 1;
  double drop = 0;
  double late = 0;
  double code1 = 0;
  double code2 = 0;
  double code4 = 0;
  double other = 0;
  double garbage = 0;
  double resyncFail = 0;  // a resynchronisation probe is not answered with 3
  bool Any() const;
};

// "seed=7,drop=0.02,late=0.01,code1=0.01,code2=0.01,code4=0.01,other=0.01,
// garbage=0.02,resync-fail=0.3"; keys in any order, each at most once, every
// one optional. False (with the reason in `error`) on an unknown key, a
// repeated key, a value that is no number or outside 0..1, or reply rates that
// add up to more than 1. `rates` is changed only on success.
bool ParseFaultRates(std::string_view text, FaultRates& rates, std::string* error = nullptr);

// What the instrument knows of a packet when it decides its fault.
struct PacketView {
  std::uint32_t index = 0;  // 1 for the first upload packet heard, and so on
  std::uint8_t command = 0;
  device::PacketKind kind = device::PacketKind::Plain;
  std::size_t length = 0;       // F0 to F7
  bool resyncProbe = false;     // a probe while the instrument waits for resynchronisation
  bool retransmission = false;  // byte for byte the packet it answered last
};

// A test's own decision for a packet; nullopt leaves the packet to the rates.
using FaultScript = std::function<std::optional<FaultDecision>(const PacketView&)>;

// The deterministic source of decisions: the script first, then the rates.
class FaultPlan {
 public:
  void SetRates(const FaultRates& rates);
  void SetScript(FaultScript script) { script_ = std::move(script); }
  FaultDecision Decide(const PacketView& packet);

 private:
  double Uniform();  // [0, 1)
  FaultRates rates_;
  std::uint64_t state_ = 1;
  FaultScript script_;
};

}  // namespace emulator
