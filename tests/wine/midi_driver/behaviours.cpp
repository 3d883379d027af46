// KF_WINE_MIDI, parsed: the world's table, and the instrument's two settings.
#include "tests/wine/midi_driver/behaviours.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace kfmidi {

const Behaviours& ProcessBehaviours() {
  static const Behaviours behaviours = [] {
    Behaviours b;
    char buffer[1024] = "";
    const DWORD length = GetEnvironmentVariableA("KF_WINE_MIDI", buffer, sizeof buffer);
    const auto instrument = [&b](std::string_view key, std::optional<std::string_view> value) {
      if (!value || value->empty()) return false;
      if (key == "firmware") {
        b.firmware = *value;
        return true;
      }
      // Faults take '+' or ';' between their settings: commas separate behaviours.
      std::string rates(*value);
      std::replace_if(rates.begin(), rates.end(), [](char c) { return c == ';' || c == '+'; }, ',');
      emulator::FaultRates faults;
      if (key != "faults" || !emulator::ParseFaultRates(rates, faults)) return false;
      b.faults = faults;
      return true;
    };
    if (length >= sizeof buffer) {
      b.refusal = "KF_WINE_MIDI is too long";
    } else {
      sim::ParseWorldBehaviours(std::string_view(buffer, length), b.world, b.refusal, instrument);
    }
    if (!b.refusal.empty()) {
      std::fprintf(stderr, "winekfmidi: KF_WINE_MIDI refused: %s; the driver offers no ports\n", b.refusal.c_str());
    }
    return b;
  }();
  return behaviours;
}

}  // namespace kfmidi
