#include "platform/sim/world_behaviours.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>

#include "platform/midi_driver.h"
#include "platform/parse_decimal.h"

namespace sim {
namespace {

constexpr std::uint32_t MaxCount = 1u << 20;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}
bool ParseNumber(std::string_view text, double& value) { return platform::ParseDecimal(text, value); }

bool ParseCount(std::string_view text, std::uint32_t& value, std::uint32_t least) {
  return ParseNumber(text, value) && value >= least && value <= MaxCount;
}

constexpr std::array<std::string_view, TrafficKinds> TrafficNames = {"sense", "clock", "notes", "sysex"};

bool ParseTraffic(std::string_view text, std::uint8_t& kinds) {
  kinds = 0;
  while (!text.empty()) {
    const std::string_view name = text.substr(0, text.find('+'));
    text.remove_prefix(std::min(name.size() + 1, text.size()));
    const auto found = std::find(TrafficNames.begin(), TrafficNames.end(), name);
    if (found == TrafficNames.end()) return false;
    kinds |= static_cast<std::uint8_t>(1u << (found - TrafficNames.begin()));
  }
  return kinds != 0;
}

// "unplug=N" or "unplug=N+error".
bool ParseUnplug(std::string_view text, WorldBehaviours& b) {
  constexpr std::string_view ErrorSuffix = "+error";
  b.unplugError = text.size() > ErrorSuffix.size() && text.ends_with(ErrorSuffix);
  if (b.unplugError) text.remove_suffix(ErrorSuffix.size());
  return ParseCount(text, b.unplugAfter, 1);
}

enum class Parsed { Taken, Unknown, Malformed };

Parsed Apply(std::string_view key, std::optional<std::string_view> value, WorldBehaviours& b) {
  bool* flag = key == "shared" ? &b.shared
               : key == "busy-in" ? &b.busyIn
               : key == "blocking-out" ? &b.blockingOut
               : key == "early-input" ? &b.earlyInput
               : key == "sync-done" ? &b.syncDone
                                    : nullptr;
  if (flag != nullptr) {
    *flag = true;
    return value ? Parsed::Malformed : Parsed::Taken;
  }
  std::uint32_t replug = 0;
  bool good = false;
  if (key == "traffic") {
    good = value && ParseTraffic(*value, b.traffic);
  } else if (key == "drop-byte") {
    good = value && ParseCount(*value, b.dropByte, 2);
  } else if (key == "unplug") {
    good = value && ParseUnplug(*value, b);
  } else if (key == "replug") {
    good = value && ParseCount(*value, replug, 0);
    b.replugSeconds = replug;
  } else if (key == "split") {
    good = value && ParseCount(*value, b.split, 1);
  } else if (key == "notready") {
    good = value && ParseCount(*value, b.notReady, 0);
  } else if (key == "longerror") {
    good = value && ParseNumber(*value, b.longError) && b.longError >= 0 && b.longError <= 1;
  } else {
    return Parsed::Unknown;
  }
  return good ? Parsed::Taken : Parsed::Malformed;
}

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Append(std::string& text, const char* format, ...) {
  char part[160];
  va_list values;
  va_start(values, format);
  std::vsnprintf(part, sizeof part, format, values);
  va_end(values);
  text += text.empty() ? "" : "; ";
  text += part;
}

double Seconds(std::uint64_t ms) { return static_cast<double>(ms) / 1000.0; }

// Foreign SysEx that answers nothing the flasher asks, in the order they go
// in front of the instrument's messages: another model of the same maker
// answering a model query and a status request, universal non-real-time and
// real-time messages, and another program's Identity Request. No Identity
// Reply: that one is a device answering, which the scan must hear.
constexpr std::array<std::uint8_t, 8> OtherModelQueryReply = {0xF0, 0x00, 0x6D, 0x1C, 0x42, 0x0F, 0x42, 0xF7};
constexpr std::array<std::uint8_t, 11> OtherModelStatusReply = {0xF0, 0x00, 0x6D, 0x1C, 0x7F, 0x42,
                                                                0x40, 0x00, 0x00, 0x00, 0xF7};
constexpr std::array<std::uint8_t, 6> GeneralMidiOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
constexpr std::array<std::uint8_t, 8> MasterVolume = {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7};
constexpr std::array<std::uint8_t, 6> IdentityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
constexpr std::array<std::span<const std::uint8_t>, 5> InFront = {OtherModelQueryReply, OtherModelStatusReply,
                                                                   GeneralMidiOn, MasterVolume, IdentityRequest};
// Another maker's dump (the non-commercial id), two input buffers long.
constexpr std::size_t DumpLength = 150;
constexpr std::uint8_t NonCommercialId = 0x7D;

constexpr std::uint8_t ActiveSensing = 0xFE;
constexpr std::uint8_t TimingClock = 0xF8;
constexpr std::array<std::uint8_t, 5> NotesOn = {0x90, 0x3C, 0x64, 0x40, 0x64};
constexpr std::array<std::uint8_t, 10> NotesOff = {0x90, 0x3C, 0x00, 0x40, 0x00, 0xB0, 0x07, 0x64, 0x0A, 0x40};
constexpr std::size_t RealTimeInsideAt = 3;  // after F0 and the maker's first two bytes

// When the n-th (from 1) timed message of a kind is due, after the start:
// sense every 300 ms, clock 48 times a second, notes every 250 ms, a dump
// every second.
std::uint32_t DueAfter(std::size_t kind, std::uint32_t n) {
  switch (kind) {
    case 0: return 300 * n;
    case 1: return n * 125 / 6;
    case 2: return 250 * n;
    default: return 1000 * n;
  }
}

}  // namespace

std::uint32_t WorldBehaviours::GoneError() const {
  return unplugError ? platform::MmSysErrError : platform::MmSysErrNoDriver;
}

bool ParseWorldBehaviours(std::string_view text, WorldBehaviours& behaviours, std::string& error,
                          const OtherSetting& other) {
  WorldBehaviours b;
  while (!text.empty()) {
    const std::string_view item = text.substr(0, text.find(','));
    text.remove_prefix(std::min(item.size() + 1, text.size()));
    if (item.empty()) continue;
    const std::size_t equals = item.find('=');
    const auto value = equals == std::string_view::npos ? std::nullopt : std::optional(item.substr(equals + 1));
    const std::string_view key = item.substr(0, equals);
    const Parsed parsed = Apply(key, value, b);
    if (parsed == Parsed::Taken || (parsed == Parsed::Unknown && other && other(key, value))) continue;
    error = std::string(parsed == Parsed::Unknown ? "unknown behaviour \"" : "malformed behaviour \"") +
            std::string(item) + "\"";
    return false;
  }
  if (b.shared && b.busyIn) {
    error = "shared and busy-in contradict each other";
    return false;
  }
  if (b.replugSeconds && b.unplugAfter == 0) {
    error = "replug without unplug";
    return false;
  }
  behaviours = b;
  return true;
}

std::string_view DriverQuirk(const WorldBehaviours& b) {
  if (b.syncDone) return "sync-done";
  if (b.notReady != 0) return "notready";
  if (b.longError > 0) return "longerror";
  return {};
}

std::string DescribeWorld(const WorldBehaviours& b, const WorldEffects& e) {
  std::string text;
  if (b.shared) Append(text, "shared: %u opens of ports another program holds", e.opens);
  if (b.busyIn) Append(text, "busy-in: the instrument's input held by another program");
  if (b.traffic != 0) {
    std::uint32_t total = 0;
    for (const std::uint32_t n : e.injected) total += n;
    Append(text, "traffic: %u messages (sense %u, clock %u, notes %u, sysex %u), %u real-time bytes inside replies",
           total, e.injected[0], e.injected[1], e.injected[2], e.injected[3], e.insideReplies);
  }
  if (b.blockingOut) Append(text, "blocking-out: %u sends blocked %.3f s in all", e.blockedSends, Seconds(e.blockedMs));
  if (b.earlyInput) Append(text, "early-input: %llu input bytes found no buffer", static_cast<unsigned long long>(e.inputLost));
  if (b.dropByte != 0) {
    Append(text, "drop-byte=%u: %llu bytes dropped", b.dropByte, static_cast<unsigned long long>(e.dropped));
  }
  if (b.unplugAfter != 0) {
    if (e.unpluggedAtMs) {
      Append(text, "unplug=%u%s: unplugged at %.3f s", b.unplugAfter, b.unplugError ? "+error" : "",
             Seconds(*e.unpluggedAtMs));
    } else {
      Append(text, "unplug=%u%s: not reached", b.unplugAfter, b.unplugError ? "+error" : "");
    }
  }
  if (b.replugSeconds) {
    if (e.repluggedAtMs) {
      Append(text, "replug=%u: back at %.3f s", *b.replugSeconds, Seconds(*e.repluggedAtMs));
    } else {
      Append(text, "replug=%u: not back yet", *b.replugSeconds);
    }
  }
  if (b.split != 0) Append(text, "split=%u", b.split);
  if (b.syncDone) Append(text, "sync-done");
  if (b.notReady != 0) Append(text, "notready=%u", b.notReady);
  if (b.longError > 0) Append(text, "longerror=%g", b.longError);
  return text.empty() ? "no behaviours" : text;
}

TrafficSource::TrafficSource(std::uint8_t kinds, std::uint32_t startMs) : kinds_(kinds), start_(startMs) {}

std::uint32_t TrafficSource::NextDue() const {
  std::uint32_t next = UINT32_MAX;
  for (std::size_t kind = 0; kind < TrafficKinds; ++kind) {
    if ((kinds_ & (1u << kind)) != 0) next = std::min(next, DueAfter(kind, sent_[kind] + 1));
  }
  return start_ + next;
}

void TrafficSource::TakeDue(std::uint32_t now, std::vector<std::uint8_t>& out, WorldEffects& effects) {
  for (;;) {
    std::size_t next = TrafficKinds;
    for (std::size_t kind = 0; kind < TrafficKinds; ++kind) {
      if ((kinds_ & (1u << kind)) == 0) continue;
      if (next == TrafficKinds || DueAfter(kind, sent_[kind] + 1) < DueAfter(next, sent_[next] + 1)) next = kind;
    }
    if (next == TrafficKinds || static_cast<std::int32_t>(start_ + DueAfter(next, sent_[next] + 1) - now) > 0) return;
    const std::uint32_t n = ++sent_[next];
    ++effects.injected[next];
    switch (next) {
      case 0:
        out.push_back(ActiveSensing);
        break;
      case 1:
        out.push_back(TimingClock);
        break;
      case 2:
        if (n % 2 == 1) {
          out.insert(out.end(), NotesOn.begin(), NotesOn.end());
        } else {
          out.insert(out.end(), NotesOff.begin(), NotesOff.end());
        }
        break;
      default:
        out.push_back(0xF0);
        out.push_back(NonCommercialId);
        for (std::size_t i = 2; i + 1 < DumpLength; ++i) out.push_back(static_cast<std::uint8_t>((n * 31 + i) & 0x7F));
        out.push_back(0xF7);
        break;
    }
  }
}

void TrafficSource::Merge(std::span<const std::uint8_t> message, std::vector<std::uint8_t>& out,
                          WorldEffects& effects) {
  if ((kinds_ & TrafficSysEx) != 0) {
    const std::span<const std::uint8_t> foreign = InFront[inFront_++ % InFront.size()];
    out.insert(out.end(), foreign.begin(), foreign.end());
    ++effects.injected[3];
  }
  const bool realTime = (kinds_ & (TrafficSense | TrafficClock)) != 0 && message.size() > RealTimeInsideAt + 1;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (realTime && i == RealTimeInsideAt) {
      out.push_back((kinds_ & TrafficClock) != 0 ? TimingClock : ActiveSensing);
      ++effects.insideReplies;
    }
    out.push_back(message[i]);
  }
}

}  // namespace sim
