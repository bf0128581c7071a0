// The programs fwbench measures, staged in a directory of their own with the simulator beside
// them, and the simulator as they run with it: its built-in world, and its call log counted.
#pragma once

#include <filesystem>
#include <string>

#include "harness/Driver.h"

namespace fwbench {

inline constexpr char ProgramName[] = "Flashwright.exe";
inline constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
inline constexpr char MinimalName[] = "MinimalWindow.exe";
inline constexpr char CliName[] = "flashwright-cli.exe";
inline constexpr char MinimalConsoleName[] = "MinimalConsole.exe";

// The programs, copied into a directory of their own with the simulator beside Flashwright, and
// their probe builds in its subdirectory "probe" (each under its program's own name). A unique
// directory also makes the programs' Linux processes easy to tell from any other.
struct Programs {
  e2e::TempDir dir{"fwbench"};
  std::filesystem::path flashwright;
  std::filesystem::path minimal;
  std::filesystem::path probeDir;
  std::filesystem::path flashwrightProbe;
  std::filesystem::path minimalProbe;
  // Beside the simulator built without the stack protector: the shipped build and the probe build.
  std::filesystem::path flashwrightLean;
  std::filesystem::path flashwrightProbeLean;
  std::filesystem::path cli;
  std::filesystem::path minimalConsole;
  std::filesystem::path cliProbe;
  std::filesystem::path minimalConsoleProbe;
  // Copies everything from fwbench's own directory; throws when something is missing.
  Programs();
};

// The simulator's built-in world and no call log, unless a log is asked for.
e2e::Process::Environment SimEnvironment(const std::string& log = {});

// How many device-list calls the simulator's call log `log` holds: one per scan.
int CountDeviceListCalls(const std::filesystem::path& log);

}  // namespace fwbench
