// Parsing the command line with CLI11; see Cli.h.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"

namespace cli {
namespace {

constexpr char ExitCodesText[] = R"(Exit codes:
  0     success: every device checked is up to date, or nothing needed doing
  3010  programmed successfully; power-cycle the device to run the new firmware
  10    status: at least one device needs the update
  1     programming failed on a device (or the library faulted)
  2     usage error
  3     no compatible device attached
  4     several devices attached and neither --device nor --all given
  5     the device cannot be updated (a check failed: chip, running code, version,
        image, identification)
  6     the update library (ZRFWUpdateDll.dll, beside this program) is missing or incomplete
  7     another Flashwright program is programming a device right now
  740   not running with administrator rights
With --all the worst outcome decides: 1 before 5 before 3010 before 0.)";

}  // namespace

std::string UsageErrorDocument(const std::string& message) {
  nlohmann::ordered_json document = {{"command", nullptr},
                                     {"target", "00.01.01.07"},
                                     {"exitCode", Usage},
                                     {"devices", nlohmann::json::array()},
                                     {"error", {{"message", message}}}};
  return document.dump() + "\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::string& version) {
  CommandLine result;
  for (const std::string& argument : arguments) {
    if (argument == "--json") result.json = true;
  }

  CLI::App app("Brings the firmware of USB storage bridges to version 00.01.01.07.",
               "flashwright-cli");
  app.footer(ExitCodesText);
  app.require_subcommand(0, 1);
  bool showVersion = false;
  app.add_flag("--version", showVersion, "Print the program's version and exit");

  Options options;
  int device = 0;
  int count = 0;
  CLI::App* status = app.add_subcommand("status", "List every attached device and its state");
  CLI::App* update = app.add_subcommand("update", "Program the devices that need it");
  CLI::App* station =
      app.add_subcommand("station", "Update device after device at a production station");
  for (CLI::App* command : {status, update, station}) {
    command->add_flag("--json", options.json, "Write one JSON document to standard output");
  }
  CLI::Option* deviceOption =
      update->add_option("--device", device, "The device to update (1-based, as status lists)")
          ->check(CLI::PositiveNumber)
          ->type_name("N");
  CLI::Option* allOption = update->add_flag("--all", options.all, "Update every device in turn");
  deviceOption->excludes(allOption);
  for (CLI::App* command : {update, station}) {
    command
        ->add_option("--log", options.logFile, "Append one JSON line per device attempted to FILE")
        ->type_name("FILE");
  }
  CLI::Option* countOption = station->add_option("--count", count, "End after N devices")
                                 ->check(CLI::PositiveNumber)
                                 ->type_name("N");

  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    result.text = app.help();
    return result;
  } catch (const CLI::ParseError& error) {
    // CLI11's own codes (105-109 and the like) are all usage errors here.
    result.exitCode = Usage;
    result.text = error.what();
    return result;
  }
  if (showVersion) {
    result.text = "flashwright-cli " + version + "\n";
    return result;
  }
  if (app.get_subcommands().empty()) {
    result.exitCode = Usage;
    result.text = "a command is needed: status, update or station (see --help)";
    return result;
  }
  const CLI::App* chosen = app.get_subcommands().front();
  options.command = chosen == status   ? Command::Status
                    : chosen == update ? Command::Update
                                       : Command::Station;
  if (deviceOption->count() > 0) options.device = device;
  if (countOption->count() > 0) options.count = count;
  result.options = options;
  return result;
}

}  // namespace cli
