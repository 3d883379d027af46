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
// The simulated build: MIDI start, a scan, a whole flash with its boxes and
// the upload's status texts.
void SimulatedFlashScenario(const std::string& program, Checks& checks);
// The simulated build's Ports page: items, toggles, Disable All and Enable
// All, and the scan that follows them.
void SimulatedPortsScenario(const std::string& program, Checks& checks);
// The shipped build without MIDI devices: the configuration error, then a
// sheet that still closes with exit code 0.
void NoMidiScenario(const std::string& program, Checks& checks);

}  // namespace robot
