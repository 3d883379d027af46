// The commands of kelmora-flash. Each returns the process's exit code:
// 0 success, 1 failure or a declined question, 2 a usage error, 3 the
// development image refused, 4 the MIDI interface went away during the
// upload, 130 an upload stopped by the user's second interrupt.
#pragma once

#include "cli/options.h"
#include "cli/session.h"

namespace cli {

inline constexpr int ExitSuccess = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;
// flash: the development image on real MIDI ports without
// --allow-development-image. Refused before any port is opened, so a script
// can tell it from a failed flash: nothing reached an instrument.
inline constexpr int ExitDevelopmentImage = 3;
// The instrument's MIDI interface went away during the upload (unplugged, a
// JACK connection dropped, the JACK server stopped): the instrument is left
// in its boot loader without working firmware. Apart from 1, so that a
// script can tell an instrument that needs a new flash from a flash that
// never began.
inline constexpr int ExitInterfaceLost = 4;
// 128 + SIGINT, what a shell reports for a program that Ctrl-C ended: the
// run was interrupted, whether by the default action or by a stop.
inline constexpr int ExitInterrupted = 130;

// The end of --help, and the manual page's EXIT STATUS: what each code means.
inline constexpr char ExitCodesText[] =
    "Exit codes:\n"
    "  0    success\n"
    "  1    failure, or a question answered no\n"
    "  2    usage error\n"
    "  3    the development image refused on real MIDI ports; nothing was sent\n"
    "  4    the MIDI interface went away during the upload\n"
    "  130  interrupted with Ctrl-C\n";

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
