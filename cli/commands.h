// The commands of kelmora-flash. Each returns the process's exit code:
// 0 success, 1 failure or a declined question.
#pragma once

#include "cli/options.h"
#include "cli/session.h"

namespace cli {

inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

int RunPorts(const Options& options, const Console& console);
int RunScan(const Options& options, const Console& console);
int RunFlash(const Options& options, const Console& console);
int RunInspect(const Options& options, const Console& console);
int RunEmulate(const Options& options, const Console& console);

// Parses the arguments (without the program name) and runs the command.
int RunCommandLine(const std::vector<std::string>& arguments, const Console& console);

}  // namespace cli
