// Parsing the command line with CLI11; see Cli.h.
#include <CLI/CLI.hpp>
#include <charconv>

#include "cli/Cli.h"
#include "device/Scan.h"

namespace cli {
namespace {

// The help's list of exit codes, from the table: each code and its meaning on a line of its own.
std::string ExitCodesText() {
  std::string text = "Exit codes:\n";
  for (const ExitCodeRow& row : ExitCodes) {
    std::string code = "  " + std::to_string(row.code);
    code.resize(8, ' ');
    text += code + std::string(row.meaning) + "\n";
  }
  return text +
         R"(Several devices: the worst outcome decides, 1 before 5 before 3010 before 0 (status:
10 before 5 before 3010 before 0). 3010 also means a device was programmed earlier and waits for
its power cycle: update does not program it again (--force does).
station: 0 when every device passed, 1 when one failed, 3010 when stopped (Ctrl+C) after a
device was programmed but before its power cycle was checked.
detect: always 0; one line on standard output when no attached device needs the update, nothing
when one does, when a device cannot be updated, or when the check could not be made (the reason
on standard error). Device-management systems run the update when it prints nothing.
Text on a console is Unicode; redirected, it is UTF-8. --json and --log write ASCII-only JSON.)";
}

constexpr int MaxDevices = 16;
constexpr int MaxCount = 1000000;

// A whole number from `low` to `high`; anything else gets one plain message, which the caller
// puts after the option's name.
CLI::Validator Between(int low, int high) {
  return CLI::Validator(
      [low, high](std::string& value) -> std::string {
        int number = 0;
        const char* end = value.data() + value.size();
        const auto [stop, error] = std::from_chars(value.data(), end, number);
        if (error != std::errc{} || stop != end || number < low || number > high) {
          return "must be between " + std::to_string(low) + " and " + std::to_string(high);
        }
        return {};
      },
      "");
}

// A file's name for --log. Empty text, or one of this program's options where the name belongs
// (anything starting with "--", and -h), is a slip to be told rather than a file to write: a
// name of one dash and more ("-1.log") is left as the file it may well be.
CLI::Validator FileName() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        if (value.find_first_not_of(" \t") == std::string::npos) return "needs a file name";
        if (value.starts_with("--") || value == "-h") {
          return "needs a file name, not the option " + value;
        }
        return {};
      },
      "");
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::string& version) {
  CommandLine result;
  std::vector<std::string> reversed;
  for (auto argument = arguments.rbegin(); argument != arguments.rend(); ++argument) {
    if (*argument == "--json") result.json = true;
    // The Windows way of asking for help.
    reversed.push_back(*argument == "/?" ? "--help" : *argument);
  }

  CLI::App app("Brings the firmware of USB storage bridges to version " +
                   std::string(device::TargetFirmwareVersion) + ".",
               "flashwright-cli");
  app.footer(ExitCodesText());
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
  app.add_subcommand("detect",
                     "For a device-management system's detection: a line when no attached "
                     "device needs the update, nothing when one does; exit code 0");
  // --json and --log go before or after the command.
  for (CLI::App* command : {&app, status, update, station}) {
    command->add_flag("--json", options.json, "Write one JSON document to standard output");
  }
  CLI::Option* deviceOption =
      update
          ->add_option("--device", device,
                       "The device to update, 1 to 16 (the number status shows)")
          ->check(Between(1, MaxDevices))
          ->type_name("N");
  CLI::Option* allOption = update->add_flag("--all", options.all, "Update every device in turn");
  deviceOption->excludes(allOption);
  update->add_flag("--force", options.force,
                   "Program a device also while it waits for its power cycle after an update");
  for (CLI::App* command : {&app, update, station}) {
    command
        ->add_option("--log", options.logFile,
                     "update, station: append one JSON line per device attempted to FILE")
        ->check(FileName())
        ->type_name("FILE");
  }
  CLI::Option* countOption =
      station->add_option("--count", count, "End after N devices, 1 to " + std::to_string(MaxCount))
          ->check(Between(1, MaxCount))
          ->type_name("N");

  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    result.text = app.help();
    return result;
  } catch (const CLI::ValidationError& error) {
    // "--device: must be ..." reads as "--device must be ...".
    result.exitCode = Usage;
    result.text = error.what();
    if (const auto colon = result.text.find(": "); colon != std::string::npos) {
      result.text.erase(colon, 1);
    }
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
    result.text = "a command is needed: status, update, station or detect (see --help)";
    return result;
  }
  const CLI::App* chosen = app.get_subcommands().front();
  options.command = chosen == status    ? Command::Status
                    : chosen == update  ? Command::Update
                    : chosen == station ? Command::Station
                                        : Command::Detect;
  if ((options.command == Command::Status || options.command == Command::Detect) &&
      !options.logFile.empty()) {
    result.exitCode = Usage;
    result.text = "--log is for update and station";
    return result;
  }
  // Its contract with the system that runs it is one line of text or none.
  if (options.command == Command::Detect && options.json) {
    result.exitCode = Usage;
    result.text = "--json is for status, update and station";
    return result;
  }
  if (deviceOption->count() > 0) options.device = device;
  if (countOption->count() > 0) options.count = count;
  result.options = options;
  return result;
}

}  // namespace cli
