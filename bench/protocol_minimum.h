// The protocol's own minimum for one real-time flash, worked out from the
// flasher's transcript: the pacing pause after every chunk, the polling
// steps each answer needed as it arrived, and the status texts' holds; and
// the report of a run's wall time against it. The real-time benchmarks
// (over JACK, and under Wine through the MIDI driver for Wine) share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/cli/transcript_reader.h"

namespace bench {

struct Minimum {
  std::size_t messages = 0;
  std::int64_t pacingMs = 0;
  std::int64_t probeWaitMs = 0;
  std::int64_t pollMs = 0;
  std::int64_t holdMs = 0;
  std::int64_t beyondMs = 0;    // waits the protocol does not ask for
  std::int64_t measuredMs = 0;  // first probe to the final box
  std::size_t unanswered = 0;   // sent again after the reply budget ran out
  std::int64_t Total() const { return pacingMs + probeWaitMs + pollMs + holdMs; }
};

// The upload proper: from the first probe (the third message, after the
// scan's and the state request) to the box that ends it.
Minimum ProtocolMinimum(const std::vector<cli_test::TranscriptEvent>& events);

// Prints the upload's wall time against the minimum, its parts and their ratio.
void PrintMinimum(const Minimum& minimum);

}  // namespace bench
