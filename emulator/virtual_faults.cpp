#include "emulator/virtual_faults.h"

#include <array>
#include <charconv>

#include "platform/parse_decimal.h"

namespace emulator {

// The instrument speaks the device protocol from the other end.
using namespace device;
namespace {

constexpr std::uint8_t FirstUnknownCode = 5;
constexpr std::uint8_t UnknownCodes = 0x80 - FirstUnknownCode;  // 5 to 127

struct RateKey {
  std::string_view name;
  double FaultRates::*field;
};
constexpr std::array<RateKey, 8> RateKeys = {{
    {"drop", &FaultRates::drop},
    {"late", &FaultRates::late},
    {"code1", &FaultRates::code1},
    {"code2", &FaultRates::code2},
    {"code4", &FaultRates::code4},
    {"other", &FaultRates::other},
    {"garbage", &FaultRates::garbage},
    {"resync-fail", &FaultRates::resyncFail},
}};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

double ReplyRateSum(const FaultRates& r) {
  return r.drop + r.late + r.code1 + r.code2 + r.code4 + r.other;
}

// splitmix64: small, fast and the same on every platform.
std::uint64_t Next(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

const char* PacketFaultName(PacketFault fault) {
  switch (fault) {
    case PacketFault::None:
      return "none";
    case PacketFault::Drop:
      return "drop";
    case PacketFault::Late:
      return "late";
    case PacketFault::Code1:
      return "code1";
    case PacketFault::Code2:
      return "code2";
    case PacketFault::Code4:
      return "code4";
    case PacketFault::OtherCode:
      return "other";
    case PacketFault::OtherInput:
      return "other-input";
    case PacketFault::BothInputs:
      return "both-inputs";
    case PacketFault::RefuseResync:
      return "resync-fail";
  }
  return "?";
}

bool FaultRates::Any() const { return ReplyRateSum(*this) > 0 || garbage > 0 || resyncFail > 0; }

bool ParseFaultRates(std::string_view text, FaultRates& rates, std::string* error) {
  FaultRates parsed;
  std::uint32_t seen = 0;  // one bit per key, seed in bit 8
  while (!Trim(text).empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos)
      return Fail(error, "expected key=value: " + std::string(item));
    const std::string_view key = Trim(item.substr(0, equals));
    const std::string_view value = Trim(item.substr(equals + 1));
    const char* end = value.data() + value.size();
    if (key == "seed") {
      if ((seen & 0x100) != 0) return Fail(error, "seed given twice");
      seen |= 0x100;
      const auto [rest, ec] = std::from_chars(value.data(), end, parsed.seed);
      if (ec != std::errc{} || rest != end || value.empty()) {
        return Fail(error,
                    "seed must be a whole number from 0 to 4294967295: " + std::string(value));
      }
      continue;
    }
    bool known = false;
    for (std::size_t i = 0; i < RateKeys.size(); ++i) {
      if (key != RateKeys[i].name) continue;
      known = true;
      if ((seen & (1u << i)) != 0) return Fail(error, std::string(key) + " given twice");
      seen |= 1u << i;
      double rate = -1;
      if (!platform::ParseDecimal(value, rate) || !(rate >= 0 && rate <= 1)) {
        return Fail(error,
                    std::string(key) + " must be a number from 0 to 1: " + std::string(value));
      }
      parsed.*RateKeys[i].field = rate;
    }
    if (!known) return Fail(error, "unknown fault key: " + std::string(key));
  }
  if (ReplyRateSum(parsed) > 1.0 + 1e-9) {
    return Fail(error, "drop, late, code1, code2, code4 and other add up to more than 1");
  }
  rates = parsed;
  return true;
}

void FaultPlan::SetRates(const FaultRates& rates) {
  rates_ = rates;
  state_ = rates.seed;
}

double FaultPlan::Uniform() { return static_cast<double>(Next(state_) >> 11) * 0x1.0p-53; }

FaultDecision FaultPlan::Decide(const PacketView& packet) {
  if (script_) {
    if (const std::optional<FaultDecision> scripted = script_(packet)) return *scripted;
  }
  FaultDecision decision;
  if (!rates_.Any()) return decision;
  if (packet.resyncProbe) {
    if (Uniform() < rates_.resyncFail) decision.fault = PacketFault::RefuseResync;
    return decision;
  }
  // One draw picks at most one reply fault; the bands lie side by side.
  double u = Uniform();
  const std::array<std::pair<double, PacketFault>, 6> bands = {{
      {rates_.drop, PacketFault::Drop},
      {rates_.late, PacketFault::Late},
      {rates_.code1, PacketFault::Code1},
      {rates_.code2, PacketFault::Code2},
      {rates_.code4, PacketFault::Code4},
      {rates_.other, PacketFault::OtherCode},
  }};
  for (const auto& [rate, fault] : bands) {
    if (u < rate) {
      decision.fault = fault;
      break;
    }
    u -= rate;
  }
  decision.garbage = Uniform() < rates_.garbage;
  decision.otherCode = static_cast<std::uint8_t>(FirstUnknownCode + Next(state_) % UnknownCodes);
  return decision;
}

}  // namespace emulator
