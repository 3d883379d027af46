// kf-transcript-bench TRANSCRIPT: the wall time of the flash a transcript
// records against the protocol's own minimum for that run. For flashes run
// elsewhere: tools/run-bench has kelmora-flash.exe flash in real time under
// Wine, through the MIDI driver for Wine, and hands its transcript here.
#include <cstdio>

#include "bench/protocol_minimum.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kf-transcript-bench TRANSCRIPT\n");
    return 2;
  }
  const cli_test::TranscriptFile transcript = cli_test::ReadTranscript(argv[1]);
  const bench::Minimum minimum = bench::ProtocolMinimum(transcript.events);
  if (minimum.messages == 0 || !transcript.malformed.empty()) {
    std::printf("no upload in %s (%zu lines malformed)\n", argv[1], transcript.malformed.size());
    return 1;
  }
  bench::PrintMinimum(minimum);
  return 0;
}
