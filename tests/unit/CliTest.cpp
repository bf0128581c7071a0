// The command-line program's own rules, natively: its command line, the exit codes that need no
// Windows to produce, Ctrl+C while programming, and a log that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FakeConsole.h"
#include "Fakes.h"
#include "cli/Cli.h"

namespace {

using fakes::FakeLibrary;
using Interrupts = platform::Console::Interrupts;

cli::CommandLine Parse(std::vector<std::string> arguments) {
  return cli::ParseCommandLine(arguments, "0.1.1.7");
}

TEST(CliCommandLine, UsageErrorsExitWithTwoAndHelpListsTheExitCodes) {
  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"update", "--device", "0"},
                                             {"update", "--device", "x"},
                                             {"update", "--device", "1", "--all"},
                                             {"status", "--count", "2"},
                                             {"station", "--count"}}) {
    const cli::CommandLine parsed = Parse(wrong);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, cli::Usage) << testing::PrintToString(wrong);
  }
  EXPECT_TRUE(Parse({"frobnicate", "--json"}).json);

  const cli::CommandLine help = Parse({"--help"});
  EXPECT_EQ(help.exitCode, cli::Success);
  for (const char* code : {"3010", "740", "10 ", " 7 "}) {
    EXPECT_NE(help.text.find(code), std::string::npos) << code;
  }
  EXPECT_EQ(Parse({"--version"}).text, "flashwright-cli 0.1.1.7\n");

  const cli::CommandLine station = Parse({"station", "--count", "3", "--log", "a.log"});
  ASSERT_TRUE(station.options);
  EXPECT_EQ(station.options->command, cli::Command::Station);
  EXPECT_EQ(station.options->count, 3);
  EXPECT_EQ(station.options->logFile, "a.log");
}

struct CliFixture : ::testing::Test {
  fakes::FakeModuleLoader modules;
  fakes::FakeFaultBarrier faults;
  fakes::FakeVersionRecord versionRecord;
  fakes::FakeSleepAndShutdownBlock sleepAndShutdown;
  fakes::FakeProgrammingLock programmingLock;
  fakes::FakeConsole console;

  void SetUp() override { FakeLibrary::Instance().Reset(); }
  int Run(std::vector<std::string> arguments) {
    return cli::Main(arguments, {.modules = modules,
                                 .faults = faults,
                                 .versionRecord = versionRecord,
                                 .sleepAndShutdown = sleepAndShutdown,
                                 .programmingLock = programmingLock,
                                 .console = console});
  }
};

TEST_F(CliFixture, WithoutAdministratorRightsNothingIsTouched) {
  console.elevated = false;
  EXPECT_EQ(Run({"update", "--json"}), cli::NotElevated);
  EXPECT_TRUE(modules.loadedFiles.empty());
  EXPECT_NE(console.out.find("\"exitCode\":740"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("administrator rights"), std::string::npos) << console.out;
}

// Ctrl+C and Ctrl+Break are refused exactly while the device is programmed, with the progress
// shown; afterwards they end the program again.
TEST_F(CliFixture, InterruptsAreIgnoredOnlyWhileProgramming) {
  Interrupts duringProgramming = Interrupts::End;
  bool progressDuringProgramming = false;
  FakeLibrary::Instance().duringProgramming = [&] {
    duringProgramming = console.mode;
    progressDuringProgramming = console.progressRunning;
  };
  EXPECT_EQ(Run({"update"}), cli::Updated);
  EXPECT_EQ(duringProgramming, Interrupts::Ignore);
  EXPECT_TRUE(progressDuringProgramming);
  EXPECT_FALSE(console.progressRunning);
  EXPECT_EQ(console.mode, Interrupts::End);
  EXPECT_NE(console.err.find("Do not unplug"), std::string::npos) << console.err;
  EXPECT_TRUE(sleepAndShutdown.log.size() == 2 && !sleepAndShutdown.active);
}

// --all: the worst outcome decides, and a failed device does not stop the others.
TEST_F(CliFixture, AllReportsTheWorstOutcome) {
  FakeLibrary& library = FakeLibrary::Instance();
  library.devices = {"a", "b", "c"};
  library.programResultFor["b"] = 0;
  EXPECT_EQ(Run({"update", "--all", "--json"}), cli::ProgrammingFailed);
  EXPECT_EQ(std::count(library.calls.begin(), library.calls.end(),
                       "ZR_FWUpdateProgrammingNoCustomizedSetting(c)"),
            1);
  EXPECT_EQ(Run({"status"}), cli::UpdateNeeded);
}

// A log that cannot be written is told on standard error and never changes the update's result.
TEST_F(CliFixture, AnUnwritableLogDoesNotHideTheResult) {
  console.appendError = "Access is denied.";
  EXPECT_EQ(Run({"update", "--log", "C:\\locked.log"}), cli::Updated);
  EXPECT_NE(console.err.find("cannot write the log C:\\locked.log: Access is denied."),
            std::string::npos)
      << console.err;
}

// A fault while programming ends the run with 1 and its message; the attempt is still logged.
TEST_F(CliFixture, AFaultWhileProgrammingIsReportedAndLogged) {
  FakeLibrary::Instance().during["ZR_FWUpdateProgrammingNoCustomizedSetting"] = [] {
    throw fakes::SimulatedFault{{0xC0000005, 0x10002000}};
  };
  EXPECT_EQ(Run({"update", "--json", "--log", "x.log"}), cli::ProgrammingFailed);
  EXPECT_NE(console.out.find("The update library failed in "
                             "ZR_FWUpdateProgrammingNoCustomizedSetting: access violation"),
            std::string::npos)
      << console.out;
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_NE(console.lines[0].find("\"result\":\"failed\""), std::string::npos) << console.lines[0];
  EXPECT_FALSE(programmingLock.held);
  EXPECT_EQ(console.mode, Interrupts::End);
}

}  // namespace
