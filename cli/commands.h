// The commands of kelmora-flash. Each returns the process's exit code:
// 0 success, 1 failure or a declined question, 2 a usage error, 4 the MIDI
// interface went away during the upload, 130 an upload stopped by the
// user's second interrupt.
#pragma once

#include "cli/options.h"
#include "cli/session.h"

namespace cli {

inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;
// The instrument's MIDI interface went away during the upload (unplugged, a
// JACK connection dropped, the JACK server stopped): the instrument is left
// in its boot loader without working firmware. Apart from 1, so that a
// script can tell an instrument that needs a new flash from a flash that
// never began.
inline constexpr int ExitInterfaceLost = 4;
// 128 + SIGINT, what a shell reports for a program that Ctrl-C ended: the
// run was interrupted, whether by the default action or by a stop.
inline constexpr int ExitInterrupted = 130;

int RunPorts(const Options& options, const Console& console);
int RunScan(const Options& options, const Console& console);
int RunFlash(const Options& options, const Console& console);
// The flash command on a session that is installed, has its image and has
// MIDI started; RunFlash sets one up.
int FlashWithSession(Session& session, const Options& options, const Console& console);
int RunInspect(const Options& options, const Console& console);
int RunEmulate(const Options& options, const Console& console);

// Parses the arguments (without the program name) and runs the command.
int RunCommandLine(const std::vector<std::string>& arguments, const Console& console);

}  // namespace cli
