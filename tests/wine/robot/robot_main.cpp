// kf-robot SCENARIO PROGRAM: runs one scenario against the program (a
// Windows path) and exits 0 when every check passed, 1 when one failed, 2 on
// a usage error. Screenshots are asked of the driving script on stdout
// ("SCREENSHOT name") and acknowledged with a line on stdin.
#include <cstdio>
#include <cstring>

#include "tests/wine/robot/scenarios.h"

namespace {

struct NamedScenario {
  const char* name;
  void (*run)(const std::string& program, robot::Checks& checks);
};

constexpr NamedScenario Scenarios[] = {
    {"sheet", robot::SheetScenario},
    {"sheet-ok", robot::SheetClosedWithOkScenario},
    {"sheet-close-box", robot::SheetClosedWithCloseBoxScenario},
    {"two-instances", robot::TwoInstancesScenario},
    {"fatal-box", robot::FatalBoxScenario},
    {"sim-flash", robot::SimulatedFlashScenario},
    {"sim-ports", robot::SimulatedPortsScenario},
    {"no-midi", robot::NoMidiScenario},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) {
    for (const NamedScenario& scenario : Scenarios) {
      if (std::strcmp(scenario.name, argv[1]) != 0) continue;
      robot::Checks checks;
      scenario.run(argv[2], checks);
      std::printf("robot: %s: %d checks, %d failed\n", scenario.name, checks.Count(),
                  checks.Failures());
      return checks.Failures() == 0 && checks.Count() > 0 ? 0 : 1;
    }
  }
  std::fprintf(stderr, "usage: kf-robot SCENARIO PROGRAM\nscenarios:");
  for (const NamedScenario& scenario : Scenarios) std::fprintf(stderr, " %s", scenario.name);
  std::fprintf(stderr, "\n");
  return 2;
}
