// The command table, and the program's entry: parse the command line, then run the command's row.
// See CommandTable.h and Cli.h.
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/FleetReport.h"
#include "cli/Session.h"
#include "cli/Support.h"

namespace cli {

std::span<const CommandRow> CommandTable() {
  static constexpr CommandRow Rows[] = {
      {.name = "status",
       .help = "List every attached device and its state",
       .options = JsonOption | NotifyOption,
       .trail = trail::Command::Status,
       .handler = &Session::Status},
      {.name = "update",
       .help = "Program the devices that need it",
       .options = JsonOption | ChoiceOptions | LogOption | NotifyOption,
       .trail = trail::Command::Update,
       .notifiesByDefault = true,
       .handler = &Session::Update},
      {.name = "station",
       .help = "Update device after device at a production station",
       .options = JsonOption | LogOption | CountOption,
       .lockedThroughout = false,
       .program = update::Program::Station,
       .trail = trail::Command::Station,
       .handler = &Session::Station},
      {.name = "detect",
       .help = "For a device-management system's detection: a line when no attached device needs "
               "the update, nothing when one does; exit code 0",
       .options = NotifyOption,
       .trail = trail::Command::Detect,
       .alwaysSucceeds = true,
       .handler = &Session::Detect},
      {.name = "report",
       .help = "Sum up the logs of many PCs (files, or folders of them) in a CSV table and an "
               "HTML page",
       .options = ReportOptions,
       .runAlone = &WriteFleetReport},
      {.name = "support",
       .help = "For support: \"record on\" or \"record off\" turns recording the library's calls "
               "on or off; \"collect [FILE]\" writes one ZIP of what support needs",
       .options = SupportSteps,
       .runAlone = &RunSupport},
  };
  return Rows;
}

int Run(const Options& options, const Services& services) {
  if (options.command->runAlone != nullptr) return options.command->runAlone(options, services);
  Session session(options, services);
  return session.Run();
}

int Main(const std::vector<std::string>& arguments, const Services& services) {
  std::string version = "unknown";
  if (const auto fileVersion = services.versionRecord.ReadOwnFileVersion()) {
    version = platform::VersionText(*fileVersion);
  }
  const CommandLine commandLine = ParseCommandLine(arguments, version);
  if (!commandLine.options) {
    if (commandLine.exitCode == Success) {
      services.output.Out(commandLine.text);
    } else if (commandLine.json) {
      services.output.Out(UsageErrorDocument(commandLine.text));
    } else {
      services.output.Err("flashwright-cli: " + commandLine.text + "\n");
    }
    return commandLine.exitCode;
  }
  return Run(*commandLine.options, services);
}

}  // namespace cli
