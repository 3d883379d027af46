// The robot's scenarios: each drives one or more runs of the program given on
// the robot's command line and records its verdicts.
#pragma once

#include <string>

#include "tests/wine/robot/window_robot.h"

namespace robot {

// The property sheet's caption, tabs, buttons and pages, then Cancel.
void SheetScenario(const std::string& program, Checks& checks);
// The sheet closed with OK, or with its close box.
void SheetClosedWithOkScenario(const std::string& program, Checks& checks);
void SheetClosedWithCloseBoxScenario(const std::string& program, Checks& checks);
// Two instances side by side, each closed on its own.
void TwoInstancesScenario(const std::string& program, Checks& checks);
// A program whose image is unusable shows only the fatal box.
void FatalBoxScenario(const std::string& program, Checks& checks);

}  // namespace robot
