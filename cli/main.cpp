// kelmora-flash: the command-line flasher. See cli/options.cpp for the
// command line and cli/commands.cpp for what each command does.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

#if defined(_WIN32)
#include <io.h>

#include "platform/win32/system_dlls_win32.h"
#define KF_ISATTY _isatty
#define KF_FILENO _fileno
#else
#include <unistd.h>
#define KF_ISATTY isatty
#define KF_FILENO fileno
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
  win32::LoadDllsFromSystemFolderOnly();  // before anything loads a DLL by name
#endif
  std::vector<std::string> arguments(argv + 1, argv + argc);
  cli::Console console;
  console.terminal = KF_ISATTY(KF_FILENO(stdout)) != 0;
  return cli::RunCommandLine(arguments, console);
}
