// KF_WINE_MIDI, parsed: the one place that knows its syntax.
#include "tests/wine/midi_driver/behaviours.h"

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kfmidi {
namespace {

template <typename Number>
bool Parse(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// Applies one "key" or "key=value"; false when it is malformed.
bool Apply(std::string_view key, std::optional<std::string_view> value, Behaviours& b) {
  constexpr std::uint32_t MaxCount = 1u << 20;
  std::uint32_t count = 0;
  double probability = 0;
  if (key == "sync-done" || key == "busy-in") {
    if (value) return false;
    (key == "sync-done" ? b.syncDone : b.busyIn) = true;
  } else if (!value || value->empty()) {
    return false;
  } else if (key == "split" || key == "notready") {
    if (!Parse(*value, count) || count > MaxCount || (key == "split" && count == 0)) return false;
    (key == "split" ? b.split : b.notReady) = count;
  } else if (key == "longerror") {
    if (!Parse(*value, probability) || !(probability >= 0 && probability <= 1)) return false;
    b.longError = probability;
  } else if (key == "faults") {
    std::string rates(*value);
    std::replace_if(rates.begin(), rates.end(), [](char c) { return c == ';' || c == '+'; }, ',');
    emulator::FaultRates faults;
    if (!emulator::ParseFaultRates(rates, faults)) return false;
    b.faults = faults;
  } else if (key == "firmware") {
    b.firmware = *value;
  } else {
    return false;
  }
  return true;
}

}  // namespace

const Behaviours& ProcessBehaviours() {
  static const Behaviours behaviours = [] {
    Behaviours b;
    char buffer[1024] = "";
    const DWORD length = GetEnvironmentVariableA("KF_WINE_MIDI", buffer, sizeof buffer);
    if (length >= sizeof buffer) std::fprintf(stderr, "winekfmidi: KF_WINE_MIDI is too long: ignored\n");
    for (std::string_view text(buffer, length < sizeof buffer ? length : 0); !text.empty();) {
      const std::string_view item = text.substr(0, text.find(','));
      text.remove_prefix(std::min(item.size() + 1, text.size()));
      const std::size_t equals = item.find('=');
      const auto value = equals == std::string_view::npos ? std::nullopt : std::optional(item.substr(equals + 1));
      if (!item.empty() && !Apply(item.substr(0, equals), value, b)) {
        std::fprintf(stderr, "winekfmidi: KF_WINE_MIDI: ignoring \"%.*s\"\n", static_cast<int>(item.size()),
                     item.data());
      }
    }
    return b;
  }();
  return behaviours;
}

}  // namespace kfmidi
