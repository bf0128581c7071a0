// Parsing the command line with CLI11, from the command table: each row's command with the options
// it takes. See Cli.h.
#include <CLI/CLI.hpp>
#include <charconv>
#include <regex>

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
station: 0 when every device passed, 1 when one failed (one that still reports its old firmware
after its power cycle included), 3010 when stopped (Ctrl+C) after a device was programmed but
before its power cycle was checked.
detect: always 0; one line on standard output when no attached device needs the update, nothing
when one does, when a device cannot be updated, or when the check could not be made (the reason
on standard error). Device-management systems run the update when it prints nothing.
report: 0 when both files were written, 1 when no log line could be read or a file could not be
written.
support: 0 when done, 1 when the switch could not be set or the ZIP could not be written.
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

// A file's name for --log, --csv or --html. Empty text, or one of this program's options where the
// name belongs (anything starting with "--", and -h), is a slip to be told rather than a file to
// write: a name of one dash and more ("-1.log") is left as the file it may well be.
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

// station --unit-id: prompt, sequence, or sequence:START with START a whole number.
constexpr long long MaxUnitStart = 999999999;
CLI::Validator UnitIdsText() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        if (value == "prompt" || value == "sequence") return {};
        long long start = -1;
        const char* end = value.data() + value.size();
        if (value.starts_with("sequence:")) {
          const auto [stop, error] = std::from_chars(value.data() + 9, end, start);
          if (error == std::errc{} && stop == end && start >= 0 && start <= MaxUnitStart) return {};
        }
        return "must be prompt, sequence or sequence:START (START from 0 to " +
               std::to_string(MaxUnitStart) + ")";
      },
      "");
}

// The names of the commands that take `option` (every command for 0), as a list: "a, b and c".
std::string Names(unsigned option, std::string_view lastSeparator) {
  std::vector<std::string_view> names;
  for (const CommandRow& row : CommandTable()) {
    if (option == 0 || (row.options & option) != 0) names.push_back(row.name);
  }
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 == names.size() ? lastSeparator : std::string_view(", ");
    list += names[i];
  }
  return list;
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
  std::string unitIds;
  std::string notify;
  // --json and --log go before or after the command.
  const std::string jsonHelp = "Write one JSON document to standard output";
  const std::string logHelp =
      Names(LogOption, ", ") + ": append one JSON line per device attempted to FILE";
  auto addLog = [&](CLI::App* command) {
    command->add_option("--log", options.logFile, logHelp)->check(FileName())->type_name("FILE");
  };
  app.add_flag("--json", options.json, jsonHelp);
  addLog(&app);
  for (const CommandRow& row : CommandTable()) {
    CLI::App* command = app.add_subcommand(std::string(row.name), std::string(row.help));
    if (row.Takes(JsonOption)) command->add_flag("--json", options.json, jsonHelp);
    if (row.Takes(ChoiceOptions)) {
      CLI::Option* deviceOption =
          command
              ->add_option("--device", device,
                           "The device to update, 1 to 16 (the number status shows)")
              ->check(Between(1, MaxDevices))
              ->type_name("N");
      CLI::Option* allOption =
          command->add_flag("--all", options.all, "Update every device in turn");
      deviceOption->excludes(allOption);
      command->add_flag("--force", options.force,
                        "Program a device also while it waits for its power cycle after an update");
    }
    if (row.Takes(LogOption)) addLog(command);
    if (row.Takes(NotifyOption)) {
      command
          ->add_option("--notify", notify,
                       std::string("user: when a device waits for its power cycle and no one sees "
                                   "this run (a deployment system's, as SYSTEM), a message asks "
                                   "the person logged on at the PC to switch it off and on; "
                                   "none: no message (default: ") +
                           (row.notifiesByDefault ? "user" : "none") + ")")
          ->check(CLI::Validator(
              [](std::string& value) -> std::string {
                return value == "none" || value == "user" ? "" : "must be none or user";
              },
              ""))
          ->type_name("none|user");
    }
    if (row.Takes(CountOption)) {
      command->add_option("--count", count, "End after N devices, 1 to " + std::to_string(MaxCount))
          ->check(Between(1, MaxCount))
          ->type_name("N");
      // The station's other options go with its --count.
      command
          ->add_option("--unit-id", unitIds,
                       "Name each unit in its lines: prompt reads its label from standard input "
                       "(a scanner or the keyboard) before it is programmed; sequence[:START] "
                       "numbers the units from START (default 1)")
          ->check(UnitIdsText())
          ->type_name("HOW");
      command
          ->add_option("--unit-id-pattern", options.unitIdPattern,
                       "With --unit-id prompt: take only a label that matches PATTERN whole "
                       "(ECMAScript regular expression); any other is refused and asked again")
          ->check(CLI::Validator(
              [](std::string& value) -> std::string {
                if (value.empty()) return "needs a pattern";
                try {
                  std::regex(value, std::regex::ECMAScript);
                } catch (const std::regex_error& error) {
                  return std::string("is not a regular expression: ") + error.what();
                }
                return {};
              },
              ""))
          ->type_name("PATTERN");
      command->add_flag("--beep", options.beep, "Sound a beep for each unit that fails");
      command
          ->add_option("--station", options.station,
                       "The station's name in every log line (default: the computer's name)")
          ->check(CLI::Validator(
              [](std::string& value) -> std::string {
                const bool blank = value.find_first_not_of(" \t") == std::string::npos;
                return blank || value.starts_with("--") ? "needs a name" : "";
              },
              ""))
          ->type_name("NAME");
    }
    if (row.Takes(ReportOptions)) {
      command
          ->add_option("PATH", options.paths,
                       "Log files, and folders whose files named *.log or *.log.1 are read, "
                       "subfolders included (default: this PC's log)")
          ->type_name("");
      command->add_option("--csv", options.csvFile, "Write the table to FILE")
          ->check(FileName())
          ->capture_default_str()
          ->type_name("FILE");
      command->add_option("--html", options.htmlFile, "Write the page to FILE")
          ->check(FileName())
          ->capture_default_str()
          ->type_name("FILE");
      command
          ->add_option("--pending-days", options.pendingDays,
                       "Count a device that waits longer than N days for its power cycle among "
                       "those that need a person, 0 to 365")
          ->check(Between(0, 365))
          ->capture_default_str()
          ->type_name("N");
    }
    if (row.Takes(SupportSteps)) {
      // Without one of them, support says what it takes (RunSupport).
      command->require_subcommand(0, 1);
      command->add_subcommand("record", "Turn recording on or off (administrator)")
          ->add_option("STATE", options.supportValue, "on or off")
          ->required()
          ->check(CLI::Validator(
              [](std::string& value) -> std::string {
                return value == "on" || value == "off" ? "" : "is on or off, not " + value;
              },
              ""));
      CLI::App* collect = command->add_subcommand(
          "collect",
          "Write the recordings, the logs, status --json, the versions and the support settings "
          "into one new ZIP (administrator)");
      collect
          ->add_option("FILE", options.supportValue,
                       "The ZIP to write, made new, never replacing a file (default: "
                       "flashwright-support-<computer>-<UTC time>.zip in your Documents folder)")
          ->check(FileName());
      collect
          ->add_option("--max-size", options.supportMaxMiB,
                       "Gather recordings, newest first, up to N MiB in all, 1 to 2048; the rest "
                       "are listed in settings.txt")
          ->check(Between(1, 2048))
          ->capture_default_str()
          ->type_name("N");
      collect->add_flag("--all", options.supportAll,
                        "Gather recordings made before recording was last turned on too");
      collect->add_flag("--keep-names", options.supportKeepNames,
                        "Keep the computer's and users' names in the logs and status (by default "
                        "each is replaced by a pseudonym such as computer-1 or user-1)");
    }
  }

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
    result.text = "a command is needed: " + Names(0, " or ") + " (see --help)";
    return result;
  }
  const CLI::App* chosen = app.get_subcommands().front();
  for (const CommandRow& row : CommandTable()) {
    if (chosen->get_name() == row.name) options.command = &row;
  }
  // Given before the command, an option the command does not take is told here. detect's
  // contract with the system that runs it is one line of text or none: it takes no --json.
  if (!options.command->Takes(LogOption) && !options.logFile.empty()) {
    result.exitCode = Usage;
    result.text = "--log is for " + Names(LogOption, " and ");
    return result;
  }
  if (!options.command->Takes(JsonOption) && options.json) {
    result.exitCode = Usage;
    result.text = "--json is for " + Names(JsonOption, " and ");
    return result;
  }
  auto given = [&](const char* name) {
    const CLI::Option* option = chosen->get_option_no_throw(name);
    return option != nullptr && option->count() > 0;
  };
  if (options.command->Takes(ReportOptions) && options.csvFile == options.htmlFile) {
    result.exitCode = Usage;
    result.text = "--csv and --html need two different files";
    return result;
  }
  if (options.command->Takes(SupportSteps) && !chosen->get_subcommands().empty()) {
    options.supportStep = chosen->get_subcommands().front()->get_name();
  }
  options.notify = notify.empty() ? options.command->notifiesByDefault : notify == "user";
  if (given("--device")) options.device = device;
  if (given("--count")) options.count = count;
  if (unitIds == "prompt") {
    options.unitIds = UnitIds::Prompt;
  } else if (unitIds.starts_with("sequence")) {
    options.unitIds = UnitIds::Sequence;
    if (unitIds.size() > 9) options.unitStart = std::stoll(unitIds.substr(9));
  }
  if (!options.unitIdPattern.empty() && options.unitIds != UnitIds::Prompt) {
    result.exitCode = Usage;
    result.text = "--unit-id-pattern is for labels read with --unit-id prompt";
    return result;
  }
  result.options = options;
  return result;
}

}  // namespace cli
