// Usage errors end with exit code 2, a one-line message and the usage on
// standard error, before anything is started.
#include <gtest/gtest.h>

#include "tests/cli/cli_run.h"

using cli_test::Lines;
using cli_test::RunCli;

TEST(Usage, ErrorsGiveExitCodeTwoOneLineAndTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"--virtual"},
      {"--bogus", "ports"},
      {"ports", "extra"},
      {"--virtual", "--faults", "drop=0.1", "ports", "scan"},
      {"--faults", "drop=0.1", "flash"},
      {"--virtual", "--faults", "drop=1.5", "flash"},
      {"--virtual", "--faults", "drip=0.1", "flash"},
      {"--virtual", "--faults", "drop=0.6,late=0.6", "flash"},
      {"--virtual", "--faults", "seed=1,seed=2", "flash"},
      {"--virtual", "--faults", "drop=x", "flash"},
      {"--virtual", "flash", "--device", "0"},
      {"--virtual", "flash", "--device", "two"},
      {"--virtual", "scan", "--yes"},
      {"flash", "--virtual"},
      {"--api", "coreaudio", "ports"},
      {"--virtual", "emulate"},
      {"--transcript", "t.txt", "emulate"},
      {"--image", "a.mid", "inspect", "b.mid"},
      {"--image"},
  };
  for (const auto& arguments : cases) {
    std::string shown;
    for (const auto& a : arguments) shown += a + " ";
    SCOPED_TRACE(shown);
    const cli_test::CliRun run = RunCli(arguments);
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.out, "");
    const auto lines = Lines(run.err);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("kelmora-flash: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("usage: kelmora-flash", 0), 0u) << lines[1];
  }
}

TEST(Usage, HelpIsNoError) {
  const cli_test::CliRun run = RunCli({"--help"});
  EXPECT_EQ(run.code, 0);
  for (const char* word : {"ports", "scan", "flash", "inspect", "emulate", "--virtual", "--faults",
                           "--image", "--transcript", "--api"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
}

TEST(Usage, VersionIsTheProjectsWhateverElseIsGiven) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--version"}, {"--version", "flash"}, {"--virtual", "--version"}}) {
    const cli_test::CliRun run = RunCli(arguments);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "kelmora-flash " KF_VERSION "\n");
    EXPECT_EQ(run.err, "");
  }
}

TEST(Usage, FaultSettingsThatAreAccepted) {
  // Accepted fault settings reach the command: inspect does not care.
  for (const char* spec : {"seed=7", "drop=0,late=1", "resync-fail=1,garbage=0.5,other=0.1",
                           "code1=0.1,code2=0.1,code4=0.1"}) {
    SCOPED_TRACE(spec);
    EXPECT_EQ(RunCli({"--virtual", "--faults", spec, "inspect"}).code, 0);
  }
}
