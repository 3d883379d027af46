// Runs the command line in this process, as main() would, with its standard
// streams in temporary files. The MIDI transport is meant to start once per
// process: a test case runs at most one command that gets as far as starting
// MIDI (ctest runs each case in a process of its own).
#pragma once

#include <cstdio>
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
  char block[4096];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, n);
  return text;
}

inline CliRun RunCli(const std::vector<std::string>& arguments, const std::string& input = "") {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  cli::Console console{in, out, err, false};
  CliRun run;
  run.code = cli::RunCommandLine(arguments, console);
  // The program leaves its pooled buffers to the end of the process; a test
  // gives them back, so that the leak checker sees only real leaks.
  transport_testing::ResetTransport();
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  std::fclose(in);
  std::fclose(out);
  std::fclose(err);
  return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (const char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

inline std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
#if defined(_WIN32)
  if (dir == nullptr) dir = std::getenv("TEMP");
#endif
  return std::string(dir != nullptr ? dir : "/tmp") + "/kf-cli-" + name;
}

inline void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

}  // namespace cli_test
