// Stages the measured programs beside the simulator and reads its call log; see Programs.h.
#include "bench/win32/fwbench/Programs.h"

#include "harness/Simulator.h"

namespace fwbench {

namespace fs = std::filesystem;

Programs::Programs() {
  const fs::path bin = e2e::ExecutableDir();
  flashwright = dir.CopyIn(bin / ProgramName);
  cli = dir.CopyIn(bin / CliName);
  minimalConsole = dir.CopyIn(bin / MinimalConsoleName);
  dir.CopyIn(bin / LibraryName);
  minimal = dir.CopyIn(bin / MinimalName);
  probeDir = dir.Path() / "probe";
  fs::create_directory(probeDir);
  flashwrightProbe = probeDir / ProgramName;
  minimalProbe = probeDir / MinimalName;
  fs::copy_file(bin / "probe" / ProgramName, flashwrightProbe);
  fs::copy_file(bin / "probe" / MinimalName, minimalProbe);
  fs::copy_file(bin / LibraryName, probeDir / LibraryName);
  cliProbe = probeDir / CliName;
  minimalConsoleProbe = probeDir / MinimalConsoleName;
  fs::copy_file(bin / "probe" / CliName, cliProbe);
  fs::copy_file(bin / "probe" / MinimalConsoleName, minimalConsoleProbe);
  const fs::path leanDir = dir.Path() / "lean-library";
  const fs::path leanProbeDir = dir.Path() / "lean-library-probe";
  fs::create_directory(leanDir);
  fs::create_directory(leanProbeDir);
  flashwrightLean = leanDir / ProgramName;
  flashwrightProbeLean = leanProbeDir / ProgramName;
  fs::copy_file(bin / ProgramName, flashwrightLean);
  fs::copy_file(bin / "probe" / ProgramName, flashwrightProbeLean);
  fs::copy_file(bin / "lean-library" / LibraryName, leanDir / LibraryName);
  fs::copy_file(bin / "lean-library" / LibraryName, leanProbeDir / LibraryName);
}

e2e::Process::Environment SimEnvironment(const std::string& log) {
  return {{"FLASHWRIGHT_SIM_SCENARIO", ""}, {"FLASHWRIGHT_SIM_LOG", log}};
}

int CountDeviceListCalls(const fs::path& log) {
  int calls = 0;
  for (const std::string& line : e2e::ReadLines(log)) {
    if (line.rfind("ZR_GetDeviceList ", 0) == 0) ++calls;
  }
  return calls;
}

}  // namespace fwbench
