// Runs the command line in this process, as main() would, with its standard
// streams in temporary files. The MIDI transport is meant to start once per
// process: a test case runs at most one command that gets as far as starting
// MIDI (ctest runs each case in a process of its own).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "tests/midi/transport_testing.h"

namespace cli_test {

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

inline std::string ReadAll(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  return text;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline CliRun RunCli(const std::vector<std::string>& arguments, const std::string& input = "") {
  std::FILE* files[] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
  std::fputs(input.c_str(), files[0]);
  std::rewind(files[0]);
  CliRun run;
  run.code = cli::RunCommandLine(arguments, cli::Console{files[0], files[1], files[2], false});
  // The program leaves its pooled buffers to the end of the process; a test
  // gives them back, so that the leak checker sees only real leaks.
  transport_testing::ResetTransport();
  run.out = ReadAll(files[1]);
  run.err = ReadAll(files[2]);
  for (std::FILE* file : files) std::fclose(file);
  return run;
}

inline std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
#if defined(_WIN32)
  if (dir == nullptr) dir = std::getenv("TEMP");
#endif
  return std::string(dir != nullptr ? dir : "/tmp") + "/kf-cli-" + name;
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
}

}  // namespace cli_test
