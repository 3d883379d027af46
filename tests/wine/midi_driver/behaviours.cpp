// KF_WINE_MIDI, parsed: the one place that knows its syntax.
#include "tests/wine/midi_driver/behaviours.h"

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kfmidi {
namespace {

constexpr std::uint32_t MaxCount = 1u << 20;

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// Applies one "key" or "key=value"; the reason it is malformed, or empty.
std::string Apply(std::string_view key, std::optional<std::string_view> value, Behaviours& b) {
  constexpr std::string_view Keys[] = {"split", "sync-done", "notready", "busy-in", "longerror", "faults", "firmware"};
  if (std::find(std::begin(Keys), std::end(Keys), key) == std::end(Keys)) return "unknown";
  const bool flag = key == "sync-done" || key == "busy-in";
  if (flag != !value) return flag ? "takes no value" : "needs a value";
  if (key == "sync-done") b.syncDone = true;
  else if (key == "busy-in") b.busyIn = true;
  else if (key == "split" || key == "notready") {
    std::uint32_t n = 0;
    if (!ParseNumber(*value, n) || n > MaxCount || (key == "split" && n == 0)) return "not a count";
    (key == "split" ? b.split : b.notReady) = n;
  } else if (key == "longerror") {
    double p = 0;
    if (!ParseNumber(*value, p) || !(p >= 0 && p <= 1)) return "not a probability from 0 to 1";
    b.longError = p;
  } else if (key == "faults") {
    std::string rates(*value);
    std::replace_if(rates.begin(), rates.end(), [](char c) { return c == ';' || c == '+'; }, ',');
    emulator::FaultRates parsed;
    std::string error;
    if (!emulator::ParseFaultRates(rates, parsed, &error)) return error;
    b.faults = parsed;
  } else {
    if (value->empty()) return "an empty path";
    b.firmware = *value;
  }
  return {};
}

Behaviours Parse(std::string_view text) {
  Behaviours b;
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(','), text.size());
    const std::string_view item = text.substr(0, comma);
    text.remove_prefix(std::min(comma + 1, text.size()));
    if (item.empty()) continue;
    const std::size_t equals = item.find('=');
    const auto value = equals == std::string_view::npos ? std::nullopt
                                                        : std::optional(item.substr(equals + 1));
    const std::string reason = Apply(item.substr(0, equals), value, b);
    if (!reason.empty()) {
      std::fprintf(stderr, "winekfmidi: KF_WINE_MIDI: ignoring \"%.*s\": %s\n", static_cast<int>(item.size()),
                   item.data(), reason.c_str());
    }
  }
  return b;
}

}  // namespace

const Behaviours& ProcessBehaviours() {
  static const Behaviours behaviours = [] {
    char text[1024] = "";
    const DWORD length = GetEnvironmentVariableA("KF_WINE_MIDI", text, sizeof text);
    if (length >= sizeof text) std::fprintf(stderr, "winekfmidi: KF_WINE_MIDI is too long: ignored\n");
    return Parse(length < sizeof text ? std::string_view(text, length) : std::string_view());
  }();
  return behaviours;
}

}  // namespace kfmidi
