// `emulate` needs ports that the program creates itself, which winmm cannot
// offer: on Windows the command says so and fails.
#include "cli/commands.h"

namespace cli {

int RunEmulate(const Options&, const Console& console) {
  std::fprintf(console.err, "kelmora-flash: emulate is available on Linux only (ALSA or JACK)\n");
  return ExitFailure;
}

}  // namespace cli
