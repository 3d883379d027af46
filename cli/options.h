// The command line: kelmora-flash [global options] COMMAND [command options].
#pragma once

#include <string>
#include <vector>

#include "emulator/virtual_faults.h"
#include "platform/sim/world_behaviours.h"

namespace cli {

enum class Command { Ports, Scan, Flash, Inspect, Emulate };
enum class MidiApi { Alsa, Jack };

struct Options {
  bool virtualMidi = false;
  bool faultsGiven = false;
  emulator::FaultRates faults;
  std::string world;  // --world as given; empty: a well-behaved MIDI system
  sim::WorldBehaviours behaviours;
  std::string image;       // empty: the embedded image
  std::string transcript;  // empty: none
  MidiApi api = MidiApi::Alsa;
  bool apiGiven = false;
  Command command = Command::Ports;
  int device = 0;  // flash: 1-based; 0: the only one
  bool yes = false;
  std::string inspectFile;  // empty: the embedded image
};

enum class ParseOutcome { Run, Help, UsageError };

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::Run;
  std::string text;  // Help: the help or version text; UsageError: the one-line message
};

ParseResult ParseCommandLine(const std::vector<std::string>& arguments, Options& options);

// The usage lines printed after a usage error.
const char* UsageText();

}  // namespace cli
