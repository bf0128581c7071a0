// The command-line program's own rules, natively: its command line, the exit codes that need no
// Windows to produce, Ctrl+C while programming, the library's text in its output, and output or
// a log that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FakeConsole.h"
#include "Fakes.h"
#include "cli/Cli.h"
#include "cli/Report.h"
#include "cli/Session.h"
#include "device/Scan.h"

namespace {

using fakes::SimulatedLibrary;
using Interrupts = platform::Interrupts::Mode;

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
                                             {"status", "--log", "a.log"},
                                             {"station", "--count"},
                                             {"update", "--unit-id", "prompt"},
                                             {"station", "--station"}}) {
    const cli::CommandLine parsed = Parse(wrong);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, cli::Usage) << testing::PrintToString(wrong);
  }
  EXPECT_TRUE(Parse({"frobnicate", "--json"}).json);
  // Ranges are told plainly, whatever was typed; --log takes a file's name, never an option or
  // empty text.
  for (const auto& [arguments, message] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"update", "--device", "0"}, "--device must be between 1 and 16"},
           {{"update", "--device", "17"}, "--device must be between 1 and 16"},
           {{"update", "--device", "x"}, "--device must be between 1 and 16"},
           {{"station", "--count", "-1"}, "--count must be between 1 and 1000000"},
           {{"update", "--log", "--json"}, "--log needs a file name, not the option --json"},
           {{"--log", "--all", "update"}, "--log needs a file name, not the option --all"},
           {{"station", "--log", "/?"}, "--log needs a file name, not the option --help"},
           {{"station", "--log", "-h"}, "--log needs a file name, not the option -h"},
           {{"update", "--log", ""}, "--log needs a file name"},
           {{"station", "--log", "  "}, "--log needs a file name"},
           {{"station", "--unit-id", "serial"},
            "--unit-id must be prompt, sequence or sequence:START (START from 0 to 999999999)"},
           {{"station", "--unit-id", "sequence:-1"},
            "--unit-id must be prompt, sequence or sequence:START (START from 0 to 999999999)"},
           {{"station", "--station", " "}, "--station needs a name"},
           {{"station", "--unit-id", "prompt", "--unit-id-pattern", "SN-[0-9"},
            "--unit-id-pattern is not a regular expression: Unexpected character within '[...]' in "
            "regular expression"},
           {{"station", "--unit-id-pattern", "SN-[0-9]+"},
            "--unit-id-pattern is for labels read with --unit-id prompt"},
           {{"update", "--notify", "everyone"}, "--notify must be none or user"}}) {
    const cli::CommandLine parsed = Parse(arguments);
    EXPECT_FALSE(parsed.options) << testing::PrintToString(arguments);
    EXPECT_EQ(parsed.exitCode, cli::Usage) << testing::PrintToString(arguments);
    EXPECT_EQ(parsed.text, message) << testing::PrintToString(arguments);
  }
  // One dash is a name: a relative path may start with it.
  const cli::CommandLine dashed = Parse({"update", "--log", "-1.log"});
  ASSERT_TRUE(dashed.options) << dashed.text;
  EXPECT_EQ(dashed.options->logFile, "-1.log");
  // --json and --log before or after the command; /? is help.
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"--json", "--log", "a.log", "update"}, {"update", "--log", "a.log", "--json"}}) {
    const cli::CommandLine parsed = Parse(arguments);
    ASSERT_TRUE(parsed.options) << parsed.text;
    EXPECT_TRUE(parsed.options->json && parsed.options->logFile == "a.log");
  }
  EXPECT_NE(Parse({"/?"}).text.find("Exit codes:"), std::string::npos);

  const cli::CommandLine help = Parse({"--help"});
  EXPECT_EQ(help.exitCode, cli::Success);
  for (const char* code : {"3010", "740", "10 ", "1618"}) {
    EXPECT_NE(help.text.find(code), std::string::npos) << code;
  }
  EXPECT_EQ(Parse({"--version"}).text, "flashwright-cli 0.1.1.7\n");

  const cli::CommandLine station = Parse({"station", "--count", "3", "--log", "a.log"});
  ASSERT_TRUE(station.options);
  EXPECT_EQ(station.options->command->name, "station");
  EXPECT_EQ(station.options->count, 3);
  EXPECT_EQ(station.options->logFile, "a.log");
}

// Each row of the command table parses to itself and takes exactly the options it names, and the
// schema's "command" words are the commands that write a JSON document.
TEST(CliCommandLine, EachCommandTakesTheOptionsOfItsRow) {
  const std::filesystem::path root =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  std::ifstream schemaFile(root / "cli" / "flashwright-cli.schema.json");
  const auto schema = nlohmann::json::parse(schemaFile);
  nlohmann::json words = nlohmann::json::array();
  for (const cli::CommandRow& row : cli::CommandTable()) {
    const std::string name(row.name);
    const cli::CommandLine parsed = Parse({name});
    ASSERT_TRUE(parsed.options) << name << ": " << parsed.text;
    EXPECT_EQ(parsed.options->command, &row) << name;
    for (const auto& [option, arguments] :
         std::vector<std::pair<cli::CommandOption, std::vector<std::string>>>{
             {cli::JsonOption, {name, "--json"}},
             {cli::JsonOption, {"--json", name}},
             {cli::LogOption, {name, "--log", "a.log"}},
             {cli::LogOption, {"--log", "a.log", name}},
             {cli::ChoiceOptions, {name, "--all", "--force"}},
             {cli::ChoiceOptions, {name, "--device", "2"}},
             {cli::CountOption, {name, "--count", "2"}},
             {cli::NotifyOption, {name, "--notify", "none"}}}) {
      EXPECT_EQ(Parse(arguments).options.has_value(), row.Takes(option))
          << testing::PrintToString(arguments);
    }
    if (row.Takes(cli::JsonOption)) words.push_back(name);
  }
  words.push_back(nullptr);
  EXPECT_EQ(schema["properties"]["command"]["enum"], words);
}

// The exit codes are one table: the README lists the same codes in the same order with the same
// meanings (names in code type aside), twice (the second time with how deployment systems read
// each), --help prints each meaning beside its code, and the schema allows exactly these codes.
TEST(CliExitCodes, ReadmeHelpAndSchemaFollowTheTable) {
  const std::filesystem::path root =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
  auto trimmed = [](std::string text) {
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  };
  // The cells of each row of the README's table that starts with `header`.
  auto table = [&](const std::string& header) {
    std::ifstream readme(root / "README.md");
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
      if (line.starts_with(header)) {
        inTable = true;
      } else if (inTable && !line.starts_with("|")) {
        break;
      } else if (inTable && !line.starts_with("|---")) {
        std::erase(line, '`');
        std::vector<std::string> cells;
        for (std::size_t bar = 0, next; (next = line.find('|', bar + 1)) != std::string::npos;
             bar = next) {
          cells.push_back(trimmed(line.substr(bar + 1, next - bar - 1)));
        }
        rows.push_back(cells);
      }
    }
    return rows;
  };
  const auto rows = table("| Exit code |");
  const auto deployment = table("| Return code |");
  ASSERT_EQ(rows.size(), std::size(cli::ExitCodes));
  ASSERT_EQ(deployment.size(), std::size(cli::ExitCodes));

  const std::string help = Parse({"--help"}).text;
  EXPECT_NE(help.find(std::string(device::TargetFirmwareVersion)), std::string::npos);

  std::ifstream schemaFile(root / "cli" / "flashwright-cli.schema.json");
  const auto schema = nlohmann::json::parse(schemaFile);
  std::vector<int> allowed = schema["properties"]["exitCode"]["enum"];
  std::vector<int> listed;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const cli::ExitCodeRow& row = cli::ExitCodes[i];
    listed.push_back(row.code);
    EXPECT_EQ(rows[i],
              (std::vector<std::string>{std::to_string(row.code), std::string(row.meaning)}))
        << row.name;
    EXPECT_EQ(deployment[i],
              (std::vector<std::string>{
                  std::to_string(row.code),
                  std::string(cli::ReadingWords[static_cast<std::size_t>(row.reading)]),
                  std::string(row.meaning)}))
        << row.name;
    std::string helpLine = "  " + std::to_string(row.code);
    helpLine.resize(8, ' ');
    EXPECT_NE(help.find(helpLine + std::string(row.meaning) + "\n"), std::string::npos)
        << row.name << "\n"
        << help;
  }
  std::sort(allowed.begin(), allowed.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, allowed);
}

struct CliFixture : ::testing::Test, fakes::FakeSystem {
  fakes::FakeConsole console;

  void SetUp() override { SimulatedLibrary::Instance().Reset(); }
  int Run(std::vector<std::string> arguments) {
    return cli::Main(arguments, console.Services(*this));
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
  SimulatedLibrary::Instance().duringProgramming = [&] {
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
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  library.SetDevices({"a", "b", "c"});
  library.Device(1).programSucceeds = false;
  EXPECT_EQ(Run({"update", "--all", "--json"}), cli::ProgrammingFailed);
  EXPECT_EQ(std::count(library.calls.begin(), library.calls.end(),
                       "ZR_FWUpdateProgrammingNoCustomizedSetting(c)"),
            1);
  EXPECT_EQ(Run({"status"}), cli::UpdateNeeded);
}

// A log that cannot be opened for writing ends update and station with 1 before the library is
// loaded, let alone a device touched: on standard error, or in the document with --json.
TEST_F(CliFixture, ALogThatCannotBeWrittenStopsTheWorkBeforeAnyDevice) {
  console.checkError = "Access is denied.";
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"update", "--log", "C:\\locked.log"}, {"station", "--log", "C:\\locked.log"}}) {
    console.err.clear();
    EXPECT_EQ(Run(arguments), cli::ProgrammingFailed) << testing::PrintToString(arguments);
    EXPECT_NE(console.err.find("cannot write the log C:\\locked.log, so nothing was done: Access "
                               "is denied."),
              std::string::npos)
        << console.err;
  }
  EXPECT_EQ(Run({"--json", "update", "--log", "C:\\locked.log"}), cli::ProgrammingFailed);
  EXPECT_NE(console.out.find("\"exitCode\":1"), std::string::npos) << console.out;
  EXPECT_NE(console.out.find("cannot write the log"), std::string::npos) << console.out;
  EXPECT_EQ(console.checked, std::vector<std::string>(3, "C:\\locked.log"));
  EXPECT_TRUE(modules.loadedFiles.empty());
  EXPECT_TRUE(SimulatedLibrary::Instance().calls.empty());
  EXPECT_TRUE(console.lines.empty());
}

// A log line that cannot be written later: the devices' results stand in the report and the run
// ends with 1. Lines are written once the programming lock is let go, so update --all has
// programmed every chosen device by then; the station goes no further than the unit at hand.
TEST_F(CliFixture, ALogLineThatCannotBeWrittenStopsTheRun) {
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  library.SetDevices({"a", "b", "c"});
  console.appendError = "There is not enough space on the disk.";
  console.appendsBeforeError = 1;
  EXPECT_EQ(Run({"update", "--all", "--json", "--log", "x.log"}), cli::ProgrammingFailed);
  EXPECT_EQ(std::count_if(library.calls.begin(), library.calls.end(),
                          [](const std::string& call) {
                            return call.starts_with("ZR_FWUpdateProgrammingNoCustomizedSetting");
                          }),
            3);
  EXPECT_EQ(console.lines.size(), 1u);
  auto document = nlohmann::json::parse(console.out);
  EXPECT_EQ(document["devices"][1]["result"], "updated") << console.out;
  EXPECT_EQ(document["devices"][2]["result"], "updated") << console.out;
  EXPECT_EQ(document["error"]["message"], "the result of device 2 (updated) is not in the log")
      << console.out;
  EXPECT_NE(console.err.find("cannot write the log x.log: There is not enough space"),
            std::string::npos)
      << console.err;

  // The unit at hand still gets its verdict; the stop is told after it.
  library.SetDevices({"a"});
  console.out.clear();
  console.err.clear();
  EXPECT_EQ(Run({"station", "--log", "x.log"}), cli::ProgrammingFailed);
  EXPECT_NE(console.out.find("NOT VERIFIED"), std::string::npos) << console.out;
  EXPECT_LT(console.err.find("Power-cycle the device now"), console.err.find("stopped: "))
      << console.err;
}

// A fault while programming ends the run with 1 and its message; the attempt is still logged.
TEST_F(CliFixture, AFaultWhileProgrammingIsReportedAndLogged) {
  SimulatedLibrary::Instance().FaultOnce("ZR_FWUpdateProgrammingNoCustomizedSetting",
                                         {0xC0000005, 0x10002000});
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

// The library's bytes are text in the ANSI code page: every document and log line is valid JSON in
// ASCII with the characters converted, and the text output keeps its columns and its lines.
TEST_F(CliFixture, LibraryTextLeavesAsConvertedAsciiJson) {
  struct Case {
    std::string identification, version, path;        // the library's bytes
    std::string identity, firmware, printedIdentity;  // as UTF-8
  };
  const Case cases[] = {
      {"SIM\xC9"
       "DEV",
       "00.01.01.05", "\\\\.\\D\xE9vice", "SIM\u00C9DEV", "00.01.01.05", "SIM\u00C9DEV"},
      {"A\x81"
       "B",
       "00.01.01.05\x81", "\\\\.\\X", "A\uFFFDB", "00.01.01.05\uFFFD", "A\uFFFDB"},
      {"X\x01\x1B[2J\nY", "\x7F", "\\\\.\\Y", "X\x01\x1B[2J\nY", "\x7F", "X\uFFFD\uFFFD[2J\uFFFDY"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    SimulatedLibrary& library = SimulatedLibrary::Instance();
    library.Reset();
    library.SetDevices({c.path});
    library.SetIdentification(c.identification);
    library.SetVersion(c.version);
    console = {};
    console.computerName = "\u0141\u00D3D\u0179-7";

    EXPECT_EQ(Run({"update", "--json", "--log", "x.log"}), cli::Updated) << console.err;
    ASSERT_EQ(console.lines.size(), 1u);
    for (const std::string& text : {console.out, console.lines[0]}) {
      EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char b) {
        return static_cast<unsigned char>(b) < 0x80;
      })) << text;
    }
    const auto document = nlohmann::json::parse(console.out);
    const auto& device = document["devices"][0];
    const std::string identity = device["identity"];
    EXPECT_EQ(identity.substr(0, c.identity.size()), c.identity);
    EXPECT_EQ(device["firmware"], c.firmware);
    EXPECT_EQ(device["path"], console.FromAnsi(c.path));
    const auto line = nlohmann::json::parse(console.lines[0]);
    EXPECT_EQ(line["computer"], "\u0141\u00D3D\u0179-7");
    EXPECT_EQ(line["versionBefore"], c.firmware);
    EXPECT_EQ(line["identity"], identity);

    console.out.clear();
    // Programmed, and still reporting the old version: it waits for its power cycle.
    EXPECT_EQ(Run({"status"}), cli::Updated);
    EXPECT_NE(console.out.find("pending-power-cycle"), std::string::npos) << console.out;
    attempts.records.clear();
    std::string header = console.out.substr(console.out.find('\n') + 1);
    std::string row = header.substr(header.find('\n') + 1);
    header.erase(header.find('\n'));
    EXPECT_EQ(row.find('\n') + 1, row.size()) << "one line per device: " << row;
    EXPECT_NE(row.find(c.printedIdentity), std::string::npos) << row;
    // Columns line up by characters: "Chip" sits above the chip type.
    auto column = [](const std::string& text, std::size_t bytes) {
      std::size_t characters = 0;
      for (std::size_t i = 0; i < bytes; ++i) characters += (text[i] & 0xC0) != 0x80;
      return characters;
    };
    EXPECT_EQ(column(header, header.find("Chip")), column(row, row.find(" 13 ") + 1)) << row;
  }
}

// detect, as a device-management system runs it: always exit code 0, and a line on standard
// output only when no attached device needs the update; whatever keeps it from vouching for every
// device prints nothing there (the system then runs the install) and says why on standard error.
TEST_F(CliFixture, DetectPrintsALineOnlyWhenNoDeviceNeedsTheUpdate) {
  struct World {
    const char* name;
    std::function<void(CliFixture&)> make;
    std::string out;  // standard output, exactly
    bool told;        // a reason on standard error
  };
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  const World worlds[] = {
      {"none", [&](CliFixture&) { library.SetDevices({}); }, "No device needs the update\n", false},
      {"current",
       [&](CliFixture&) {
         library.SetDevices({"a", "b"});
         for (std::size_t i = 0; i < 2; ++i) library.Device(i).version = "00.01.01.07";
       },
       "Firmware 00.01.01.07 on every attached device\n", false},
      {"one needs the update",
       [&](CliFixture&) {
         library.SetDevices({"a", "b"});
         library.Device(0).version = "00.01.01.07";
       },
       "", false},
      {"one cannot be updated",
       [&](CliFixture&) {
         library.SetDevices({"a", "b"});
         library.Device(0).version = "00.01.01.07";
         library.Device(1).chipType = 12;
       },
       "", true},
      {"library missing",
       [](CliFixture& fixture) { fixture.modules.missing = {"ZR_GetDeviceList"}; }, "", true},
      {"fault", [&](CliFixture&) { library.FaultOnce("ZR_GetChipType"); }, "", true},
      {"not elevated", [](CliFixture& fixture) { fixture.console.elevated = false; }, "", true},
  };
  for (const World& world : worlds) {
    SCOPED_TRACE(world.name);
    library.Reset();
    modules = {};
    console = {};
    world.make(*this);
    EXPECT_EQ(Run({"detect"}), cli::Success);
    EXPECT_EQ(console.out, world.out);
    EXPECT_EQ(!console.err.empty(), world.told) << console.err;
    EXPECT_EQ(
        std::count_if(library.calls.begin(), library.calls.end(),
                      [](const std::string& call) { return call.starts_with("ZR_FWUpdate"); }),
        0);
  }
  EXPECT_EQ(Parse({"detect", "--json"}).exitCode, cli::Usage);
  EXPECT_EQ(Parse({"--log", "a.log", "detect"}).exitCode, cli::Usage);
}

// Reading commands never make the hidden device-change window nor hold off a shutdown, so they
// never load the window libraries' display driver (a deployment system runs detect on every PC).
TEST_F(CliFixture, ReadingCommandsNeedNoWindow) {
  SimulatedLibrary::Instance().SetDevices({"a", "b"});
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"status"}, {"status", "--json"}, {"detect"}}) {
    SCOPED_TRACE(command.back());
    console = {};
    EXPECT_NE(Run(command), cli::Usage);
    EXPECT_EQ(console.watched, 0);
    EXPECT_TRUE(sleepAndShutdown.log.empty());
  }
  EXPECT_EQ(Run({"update", "--all"}), cli::Updated);
  EXPECT_FALSE(sleepAndShutdown.log.empty());
}

// Standard output that cannot be written is told on standard error; the exit code still says
// what happened to the device.
TEST_F(CliFixture, AnUnwritableOutputDoesNotChangeTheExitCode) {
  console.outFails = true;
  EXPECT_EQ(Run({"update", "--json"}), cli::Updated);
  EXPECT_NE(console.err.find("cannot write the output"), std::string::npos) << console.err;
}

// Ctrl+C at the power-cycle prompt (the fake console answers every wait with it): the programmed
// unit is in the log before the prompt, counted, and the exit code says it needs its power cycle.
TEST_F(CliFixture, AStationStoppedAfterProgrammingKeepsTheUnitOnRecord) {
  EXPECT_EQ(Run({"station", "--log", "line.log"}), cli::Updated);
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_NE(console.lines[0].find("\"result\":\"updated\""), std::string::npos) << console.lines[0];
  EXPECT_LT(console.err.find("Power-cycle the device now"), std::string::npos);
  EXPECT_NE(console.err.find("1 unit: 0 passed, 0 failed, 1 not verified."), std::string::npos)
      << console.err;
  EXPECT_NE(console.out.find("NOT VERIFIED"), std::string::npos) << console.out;
}

// The station names its units and counts them. The fake operator powers a programmed unit,
// unplugs a checked one and plugs in the next of `units` (P passes, F fails to program, O still
// reports its old firmware after its power cycle); a wait with no unit left is a Ctrl+C. Each log
// line gives "sequence unit result", so that a unit's two records pair by sequence in one run.
TEST_F(CliFixture, TheStationNamesCountsAndPairsItsUnits) {
  using Read = platform::LineInput::Read;
  using Screen = platform::ConsoleOutput::Screen;
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> typed;
    Read afterLast;
    Screen screen;  // what standard error is
    int beeps;
    std::string units;
    int exitCode;
    std::vector<std::string> out, err;  // in this order
    std::string log;
  } cases[] = {
      {"typed, one repeated",
       {"station", "--unit-id", "prompt"},
       {"", " SN-1\t", "SN-2", "SN-1"},
       Read::End,
       Screen::Redirected,
       0,
       "PFP",
       cli::ProgrammingFailed,
       {"PASS  SN-1  VENDOR  Bridge Product  00.01.01.07 verified",
        "FAIL  SN-2  VENDOR  Bridge Product  programming failed", "PASS  SN-1  "},
       {"Unit 1: scan its label", "Unit 1: scan its label",
        "unit 1 (SN-1): PASS, 1 passed, 0 failed", "unit 2 (SN-2): FAIL, 1 passed, 1 failed",
        "Unit 3: scan its label",
        "unit SN-1 was already done in this run (PASS): programmed twice?",
        "unit 3 (SN-1): PASS, 2 passed, 1 failed", "Unit 4: scan its label",
        "3 units: 2 passed, 1 failed. 1 identity was given to an earlier unit too."},
       "1 SN-1 updated|1 SN-1 verified|2 SN-2 failed|3 SN-1 updated repeated|"
       "3 SN-1 verified repeated"},
      {"mis-scans refused and asked again",
       {"station", "--unit-id", "prompt", "--unit-id-pattern", "SN-[0-9]+"},
       {"PART-77", "SN-12x", std::string(257, '7'), std::string(5000, 'S'), "SN-\x1b[2J", "SN-12"},
       Read::End,
       Screen::Redirected,
       0,
       "P",
       cli::Success,
       {"PASS  SN-12  "},
       {"Unit 1: label refused: \"PART-77\" does not match --unit-id-pattern SN-[0-9]+. Scan it "
        "again.",
        "Unit 1: label refused: \"SN-12x\" does not match",
        "Unit 1: label refused: longer than 256 characters.",
        "Unit 1: label refused: longer than 256 characters.",
        "Unit 1: label refused: \"SN-\xEF\xBF\xBD[2J\" does not match",
        "unit 1 (SN-12): PASS, 1 passed", "Unit 2: scan its label", "1 unit: 1 passed, 0 failed."},
       "1 SN-12 updated|1 SN-12 verified"},
      {"a console's banners, in colour, a beep for the failed unit",
       {"station", "--unit-id", "prompt", "--beep"},
       {"SN-1", "SN-2"},
       Read::End,
       Screen::Colour,
       1,
       "PF",
       cli::ProgrammingFailed,
       {"PASS  SN-1  ", "FAIL  SN-2  "},
       {"\x1b[1;97;42m  PASS   unit 1   SN-1 ", "\x1b[0m\n\x1b[1;97;42m  1 passed, 0 failed ",
        "\x1b[1;97;41m  FAIL   unit 2   SN-2 ", "\x1b[1;97;41m  programming failed ",
        "\x1b[1;97;41m  1 passed, 1 failed ", "2 units: 1 passed, 1 failed."},
       "1 SN-1 updated|1 SN-1 verified|2 SN-2 failed"},
      {"a console without colour: the banner in text",
       {"station", "--count", "1"},
       {},
       Read::End,
       Screen::Plain,
       0,
       "F",
       cli::ProgrammingFailed,
       {"FAIL  VENDOR  Bridge Product  programming failed"},
       {"\n" + std::string(64, '#') + "\n  FAIL   unit 1", "\n  programming failed",
        "\n  0 passed, 1 failed", std::string(64, '#') + "\n"},
       "1 null failed"},
      {"Ctrl+C at the prompt",
       {"station", "--unit-id", "prompt"},
       {"A-7"},
       Read::Interrupted,
       Screen::Redirected,
       0,
       "PP",
       cli::Success,
       {"PASS  A-7  "},
       {"unit 1 (A-7): PASS, 1 passed, 0 failed", "Unit 2: scan its label",
        "1 unit: 1 passed, 0 failed."},
       "1 A-7 updated|1 A-7 verified"},
      {"a failure after a retry of it",
       {"station", "--unit-id", "prompt", "--count", "2"},
       {"B", "B"},
       Read::End,
       Screen::Redirected,
       0,
       "FP",
       cli::ProgrammingFailed,
       {"FAIL  B  ", "PASS  B  "},
       {"unit B failed earlier in this run: it is tried again.", "2 units: 1 passed, 1 failed."},
       "1 B failed|2 B updated repeated|2 B verified repeated"},
      {"numbered, the old firmware after the power cycle",
       {"station", "--unit-id", "sequence:41", "--count", "2"},
       {},
       Read::End,
       Screen::Redirected,
       0,
       "PO",
       cli::ProgrammingFailed,
       {"PASS  41  ",
        "FAIL  42  VENDOR  Bridge Product  after the power cycle the device reports "
        "00.01.01.05"},
       {"unit 1 (41): PASS, 1 passed, 0 failed", "unit 2 (42): FAIL, 1 passed, 1 failed",
        "2 units: 1 passed, 1 failed."},
       "1 41 updated|1 41 verified|2 42 updated|2 42 failed"},
      {"unnamed",
       {"station", "--count", "2"},
       {},
       Read::End,
       Screen::Redirected,
       0,
       "PP",
       cli::Success,
       {"PASS  VENDOR  Bridge Product  ", "PASS  VENDOR  Bridge Product  "},
       {"unit 1: PASS, 1 passed, 0 failed", "unit 2: PASS, 2 passed, 0 failed",
        "2 units: 2 passed, 0 failed."},
       "1 null updated|1 null verified|2 null updated|2 null verified"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    library.Reset();
    attempts.records.clear();
    console = {};
    console.typed = c.typed;
    console.afterLast = c.afterLast;
    console.screen = c.screen;
    const std::string path = library.Device().path;
    std::size_t plugged = 0;
    auto plug = [&] {
      library.SetDevices({path});
      library.Device().programSucceeds = c.units[plugged] != 'F';
      if (c.units[plugged] == 'O') library.Device().programVersion = "00.01.01.05";
      ++plugged;
    };
    plug();
    console.operate = [&] {
      using Wait = platform::DeviceChanges::Wait;
      std::vector<sim::SimDevice>& devices = library.World().devices;
      if (!devices.empty() && !devices[0].pendingVersion.empty()) {
        devices[0].version = std::exchange(devices[0].pendingVersion, {});
      } else if (!devices.empty()) {
        devices.clear();
      } else if (plugged < c.units.size()) {
        plug();
      } else {
        return Wait::Interrupted;
      }
      return Wait::Changed;
    };
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"--log", "units.log"});
    EXPECT_EQ(Run(arguments), c.exitCode) << console.err;
    EXPECT_EQ(console.beeps, c.beeps);
    if (c.screen != Screen::Colour) {
      EXPECT_EQ(console.err.find('\x1b'), std::string::npos);
    }
    for (const auto& [expected, text] : {std::pair(&c.out, &console.out), {&c.err, &console.err}}) {
      std::size_t at = 0;
      for (const std::string& part : *expected) {
        at = text->find(part, at);
        ASSERT_NE(at, std::string::npos) << part << " in order in:\n" << *text;
        at += part.size();
      }
    }
    std::string log;
    for (const std::string& text : console.lines) {
      const nlohmann::json line = nlohmann::json::parse(text);
      log += (log.empty() ? "" : "|") + line["sequence"].dump() + " " +
             (line["unit"].is_null() ? "null" : line["unit"].get<std::string>()) + " " +
             line["result"].get<std::string>() + (line.contains("repeated") ? " repeated" : "");
      EXPECT_EQ(line["station"], console.computerName) << text;
      EXPECT_EQ(line["run"], nlohmann::json::parse(console.lines[0])["run"]) << text;
      EXPECT_TRUE(line["run"].is_string()) << text;
    }
    EXPECT_EQ(log, c.log);
  }
  // --station names the station in its lines; the JSON line carries the unit.
  library.Reset();
  console = {};
  console.typed = {"SN-\u00E9"};
  EXPECT_EQ(
      Run({"station", "--json", "--unit-id", "prompt", "--station", "Line 3", "--log", "u.log"}),
      cli::Updated);
  ASSERT_EQ(console.lines.size(), 1u);
  const nlohmann::json logged = nlohmann::json::parse(console.lines[0]);
  const nlohmann::json shown = nlohmann::json::parse(console.out);
  EXPECT_EQ(logged["station"], "Line 3");
  EXPECT_EQ(shown["unit"],
            nlohmann::json::parse(R"({"sequence":1,"id":"SN-\u00e9","repeated":false})"));
  // The JSON line pairs with the unit's log line on the log's own fields.
  for (const char* key : {"station", "run", "sequence", "time"}) {
    EXPECT_EQ(shown[key], logged[key]) << key << "\n" << console.out;
  }
}

}  // namespace

// The exit code over several devices: the worst device decides, whatever the order. Every pair
// of what a device can contribute, for both commands that judge several devices.
TEST(CliExitCodes, TheWorstDeviceDecidesOverEveryPair) {
  using cli::Verdict;
  constexpr auto None = static_cast<cli::ExitCode>(-1);  // the command never gives that verdict
  struct Row {
    Verdict verdict;
    cli::ExitCode status;  // status and detect
    cli::ExitCode update;
  };
  const Row rows[] = {
      {Verdict::UpToDate, cli::Success, cli::Success},
      {Verdict::NeedsUpdate, cli::UpdateNeeded, None},
      {Verdict::Interrupted, cli::UpdateNeeded, None},
      {Verdict::NotUpdatable, cli::NotUpdatable, cli::NotUpdatable},
      {Verdict::PendingPowerCycle, cli::Updated, cli::Updated},
      {Verdict::Updated, None, cli::Updated},
      {Verdict::Failed, None, cli::ProgrammingFailed},
  };
  // Worst first, as the README and --help say.
  const std::vector<cli::ExitCode> statusOrder = {cli::UpdateNeeded, cli::NotUpdatable,
                                                  cli::Updated, cli::Success};
  const std::vector<cli::ExitCode> updateOrder = {cli::ProgrammingFailed, cli::NotUpdatable,
                                                  cli::Updated, cli::Success};
  auto worse = [](const std::vector<cli::ExitCode>& order, cli::ExitCode a, cli::ExitCode b) {
    return std::find(order.begin(), order.end(), a) < std::find(order.begin(), order.end(), b) ? a
                                                                                               : b;
  };
  for (const Row& a : rows) {
    for (const Row& b : rows) {
      SCOPED_TRACE(std::to_string(static_cast<int>(a.verdict)) + " and " +
                   std::to_string(static_cast<int>(b.verdict)));
      if (a.status != None && b.status != None) {
        EXPECT_EQ(cli::ExitCodeOf({a.verdict, b.verdict}), worse(statusOrder, a.status, b.status));
      }
      if (a.update != None && b.update != None) {
        EXPECT_EQ(cli::ExitCodeOf({a.verdict, b.verdict}), worse(updateOrder, a.update, b.update));
      }
    }
  }
  EXPECT_EQ(cli::ExitCodeOf({}), cli::Success);
}

// While another Flashwright program holds the lock no command touches a device: each ends 1618
// (detect, as a detection script, 0 and no line), and the station waits for it with one note and
// then works as usual. A lock that cannot be had at all ends the command with 1; an abandoned one
// is taken, and told.
TEST_F(CliFixture, TheLockDecidesBeforeAnyDeviceIsTouched) {
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  auto touched = [&] {
    return std::count_if(library.calls.begin(), library.calls.end(), [](const std::string& call) {
      return call.starts_with("ZR_GetDeviceList") || call.starts_with("ZR_FWUpdate");
    });
  };
  programmingLock.heldElsewhere = true;
  for (const auto& [command, code] : std::vector<std::pair<std::string, int>>{
           {"status", cli::Locked}, {"update", cli::Locked}, {"detect", cli::Success}}) {
    console = {};
    EXPECT_EQ(Run({command}), code) << command;
    EXPECT_EQ(console.out, "") << command;
    EXPECT_NE(console.err.find("another Flashwright program is programming"), std::string::npos)
        << command << ": " << console.err;
  }
  EXPECT_EQ(touched(), 0);
  programmingLock.heldElsewhere = false;

  programmingLock.fails = true;
  EXPECT_EQ(Run({"update"}), cli::ProgrammingFailed);
  EXPECT_EQ(touched(), 0);
  programmingLock.fails = false;

  console = {};
  programmingLock.abandoned = true;
  EXPECT_EQ(Run({"status"}), cli::UpdateNeeded);
  EXPECT_NE(console.err.find("ended while it held the programming lock"), std::string::npos)
      << console.err;

  console = {};
  library.calls.clear();
  programmingLock.busyTakes = 3;
  EXPECT_EQ(Run({"station", "--log", "units.log"}), cli::Updated) << console.err;
  EXPECT_EQ(programmingLock.busyTakes, 0);
  EXPECT_EQ(std::count_if(library.calls.begin(), library.calls.end(),
                          [](const std::string& call) { return call.starts_with("ZR_FWUpdate"); }),
            1)
      << console.err;
  const std::string note = "Another Flashwright program is programming a device: waiting";
  EXPECT_EQ(console.err.find(note), console.err.rfind(note)) << console.err;
  EXPECT_NE(console.err.find(note), std::string::npos) << console.err;
  EXPECT_FALSE(programmingLock.held);
}

// No command writes a line while it holds the programming lock (anyone who can hold a log would
// otherwise hold every program up), each still writes its lines, and each line tells the exit
// code the run ends with (detect's is always 0).
TEST_F(CliFixture, LinesAreWrittenOnlyOnceTheLockIsLetGo) {
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  const struct {
    std::vector<std::string> arguments;
    std::function<void()> arrange;
    int exitCode;
    std::size_t lines;
    const char* state;  // the last line's
  } cases[] = {
      {{"status"}, [] {}, cli::UpdateNeeded, 1, "update-required"},
      {{"detect"}, [] {}, cli::Success, 1, "update-required"},
      {{"detect"}, [&] { library.SetDevices({}); }, cli::Success, 1, "no-device"},
      {{"update"}, [] {}, cli::Updated, 1, "update-required"},
      // the earlier update's confirmation, then the device's line
      {{"update"},
       [&] {
         Run({"update"});
         library.SetVersion("00.01.01.07");
       },
       cli::Success,
       2,
       "up-to-date"},
      {{"update"},
       [&] { library.Device(0).programSucceeds = false; },
       cli::ProgrammingFailed,
       1,
       "update-required"},
      {{"update"},
       [&] { library.FaultOnce("ZR_FWUpdateProgrammingNoCustomizedSetting"); },
       cli::ProgrammingFailed,
       1,
       "update-required"},
      {{"station", "--count", "1"},
       [&] { library.SetVersion("00.01.01.07"); },
       cli::Success,
       1,
       "up-to-date"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments) + " " + c.state);
    library.Reset();
    attempts.records.clear();
    console = {};
    c.arrange();
    console.sharedLines.clear();
    bool writtenUnderLock = false;
    console.onAppend = [&] { writtenUnderLock = writtenUnderLock || programmingLock.held; };
    EXPECT_EQ(Run(c.arguments), c.exitCode) << console.err;
    EXPECT_FALSE(writtenUnderLock);
    ASSERT_EQ(console.sharedLines.size(), c.lines) << console.err;
    const std::string& last = console.sharedLines.back();
    EXPECT_NE(last.find("\"state\":\"" + std::string(c.state) + "\""), std::string::npos) << last;
    EXPECT_NE(last.find("\"exitCode\":" + std::to_string(c.exitCode)), std::string::npos) << last;
  }
}

// A unit another program programmed minutes ago is programmed again at the station, after a word:
// most likely it only waits for its power cycle. An older programming, or a station's, gets none.
TEST_F(CliFixture, TheStationSaysWhenAUnitWasProgrammedMinutesAgo) {
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  const struct {
    const char* name;
    std::int64_t later;
    const char* program;  // the record's; null: update's own
    const char* told;     // null: nothing said
  } cases[] = {
      {"by update, minutes ago", 150, nullptr,
       "unit 1: programmed by flashwright-cli update 2 "
       "minutes ago and still at its old firmware"},
      {"by the window, just now", 0, "Flashwright", "programmed by Flashwright less than a minute"},
      {"by update, an hour ago", 3600, nullptr, nullptr},
      {"by a station", 60, "flashwright-cli station", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    library.Reset();
    attempts.records.clear();
    console = {};
    ASSERT_EQ(Run({"update"}), cli::Updated) << console.err;
    ASSERT_EQ(attempts.records.size(), 1u);
    if (c.program != nullptr) attempts.records[0].program = c.program;
    attempts.now += c.later;
    console = {};
    console.operate = [&] {
      std::vector<sim::SimDevice>& devices = library.World().devices;
      if (!devices.empty() && !devices[0].pendingVersion.empty()) {
        devices[0].version = std::exchange(devices[0].pendingVersion, {});
      }
      return platform::DeviceChanges::Wait::Changed;
    };
    EXPECT_EQ(Run({"station", "--count", "1"}), cli::Success) << console.err;
    EXPECT_EQ(console.err.find(c.told ? c.told : "still at its old firmware") != std::string::npos,
              c.told != nullptr)
        << console.err;
  }
}

// The intent is written before the programming call: when it cannot be, nothing is programmed and
// the command says why; the attempt's record is completed with its outcome.
TEST_F(CliFixture, EveryAttemptIsRecordedBeforeAndAfterTheCall) {
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  attempts.saveError = "access denied";
  EXPECT_EQ(Run({"update"}), cli::ProgrammingFailed);
  EXPECT_NE(console.err.find("access denied"), std::string::npos) << console.err;
  EXPECT_EQ(std::count_if(library.calls.begin(), library.calls.end(),
                          [](const std::string& call) { return call.starts_with("ZR_FWUpdate"); }),
            0);

  attempts.saveError.clear();
  std::optional<platform::AttemptRecord> during;
  library.duringProgramming = [&] {
    if (!attempts.records.empty()) during = attempts.records.front();
  };
  EXPECT_EQ(Run({"update"}), cli::Updated);
  ASSERT_TRUE(during.has_value()) << "no record while programming";
  EXPECT_EQ(during->outcome, "");
  EXPECT_EQ(during->versionBefore, "00.01.01.05");
  EXPECT_EQ(during->program, "flashwright-cli update");
  ASSERT_EQ(attempts.records.size(), 1u);
  EXPECT_EQ(attempts.records.front().outcome, "updated");
}

// Each programming attempt's outcome reaches the event log once, a run that programs nothing
// reports nothing, and the shared log's trouble or an open program folder is told and stops
// nothing. A device another live program is programming is busy like the lock; an update that did
// not take is found, reported and programmed again.
TEST_F(CliFixture, EachAttemptsOutcomeReachesTheEventLogOnce) {
  using platform::Event;
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  auto cutShort = [&](platform::ProcessIdentity process) {
    Run({"update"});
    attempts.records.at(0).outcome.clear();
    attempts.records.at(0).ended = 0;
    attempts.records.at(0).process = process;
  };
  auto underWay = [&] {
    cutShort({555, 1});
    attempts.running = {{555, 1}};
  };
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> arguments;
    cli::ExitCode exitCode;
    std::vector<Event> events;
  } cases[] = {
      {"updated", [] {}, {"update"}, cli::Updated, {Event::Updated}},
      {"failed",
       [&] { library.Device(0).programSucceeds = false; },
       {"update"},
       cli::ProgrammingFailed,
       {Event::Failed}},
      {"status", [] {}, {"status"}, cli::UpdateNeeded, {}},
      {"busy",
       [&] { programmingLock.heldElsewhere = true; },
       {"update"},
       cli::Locked,
       {Event::Busy}},
      {"busy status", [&] { programmingLock.heldElsewhere = true; }, {"status"}, cli::Locked, {}},
      {"pending", [&] { Run({"update"}); }, {"update"}, cli::Updated, {Event::PendingPowerCycle}},
      {"interrupted",
       [&] {
         cutShort({555, 1});
       },
       {"update"},
       cli::Updated,
       {Event::Interrupted, Event::Updated}},
      {"under way elsewhere", underWay, {"update"}, cli::Locked, {Event::Busy}},
      {"under way elsewhere, status", underWay, {"status"}, cli::Locked, {}},
      {"did not take",
       [&] {
         Run({"update"});
         attempts.records.at(0).seenGone = true;
       },
       {"update"},
       cli::Updated,
       {Event::DidNotTake, Event::Updated}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    library.Reset();
    attempts.records.clear();
    attempts.running.clear();
    programmingLock.heldElsewhere = false;
    c.arrange();
    console = {};
    EXPECT_EQ(Run(c.arguments), c.exitCode) << console.err;
    std::vector<Event> reported;
    for (const auto& [event, text] : console.reported) {
      reported.push_back(event);
      EXPECT_EQ(text.program, "flashwright-cli");
      if (event == Event::DidNotTake) {
        EXPECT_EQ(text.detail, "expected 00.01.01.07, the device reports 00.01.01.05");
      }
    }
    EXPECT_EQ(reported, c.events) << console.err;
  }
  attempts.running.clear();

  library.Reset();
  attempts.records.clear();
  console = {};
  console.sharedLogError = "C:\\ProgramData\\Flashwright is owned by BENCH-7\\mallory";
  console.openToOthers = "BUILTIN\\Users may change C:\\Tools";
  EXPECT_EQ(Run({"update", "--log", "x.log"}), cli::Updated);
  EXPECT_NE(console.err.find("warning: BUILTIN\\Users may change C:\\Tools"), std::string::npos)
      << console.err;
  const std::string trouble =
      "the shared log is not written: C:\\ProgramData\\Flashwright is owned";
  EXPECT_EQ(console.err.find(trouble), console.err.rfind(trouble)) << console.err;
  ASSERT_EQ(console.lines.size(), 1u);
  EXPECT_NE(console.lines[0].find(R"("warning":"BUILTIN\\Users may change C:\\Tools")"),
            std::string::npos)
      << console.lines[0];
  EXPECT_TRUE(console.sharedLines.empty());
}

// A run finds and checks the shared log once for all its lines; a run that could not have it asks
// again at its next line, so a passing trouble costs that line and not the rest of the run.
TEST(RunLog, TheSharedLogIsCheckedOncePerRunAndAskedAgainAfterTrouble) {
  fakes::FakeLogFile log;
  fakes::FakeEventLog events;
  trail::RunLog run(log);
  trail::Trail trail(run, events);
  trail::Line line;
  line.program = trail::Program::Cli;
  log.sharedLogError = "C:\\ProgramData\\Flashwright is a link to another place";
  EXPECT_EQ(trail.Write(line, 0), "");
  EXPECT_FALSE(trail.SharedLogTrouble().empty());
  log.sharedLogError.clear();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(trail.Write(line, 0), "");
  EXPECT_TRUE(trail.SharedLogTrouble().empty());
  EXPECT_EQ(log.sharedLogAsks, 2);
  EXPECT_EQ(log.sharedLines.size(), 3u);
}

// A run that leaves a device waiting for its power cycle tells the person at the console once,
// with the device's identification, after the lock is let go, when the run has no desktop of its
// own (session 0) and its command tells: update by default, status and detect when asked, never
// the station or --notify none. The device's line says whether the message went (a message that
// could not be sent says why, and changes no exit code); where no one was to be told, the line
// has no "notified".
TEST_F(CliFixture, APowerCycleOwedIsToldOnceToThePersonAtTheConsole) {
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  auto pending = [&] { Run({"update"}); };
  const struct {
    std::vector<std::string> arguments;
    bool interactive;
    std::function<void()> arrange;
    std::string tellError;
    int exitCode;
    bool told;
    const char* notified;  // the device line's, as written; nullptr: none
  } cases[] = {
      {{"update"}, false, [] {}, "", cli::Updated, true, "true"},
      {{"update", "--notify", "user"}, false, pending, "", cli::Updated, true, "true"},
      {{"update"}, false, [] {}, "nobody is logged on at the console", cli::Updated, true, "false"},
      {{"update", "--notify", "none"}, false, [] {}, "", cli::Updated, false, nullptr},
      {{"update"}, true, [] {}, "", cli::Updated, false, nullptr},
      {{"update"},
       false,
       [&] { library.SetVersion("00.01.01.07"); },
       "",
       cli::Success,
       false,
       nullptr},
      {{"update"},
       false,
       [&] { library.Device(0).programSucceeds = false; },
       "",
       cli::ProgrammingFailed,
       false,
       nullptr},
      {{"status"}, false, pending, "", cli::Updated, false, nullptr},
      {{"status", "--notify", "user"}, false, pending, "", cli::Updated, true, "true"},
      {{"detect", "--notify", "user"}, false, pending, "", cli::Success, true, "true"},
      {{"station", "--count", "1"}, false, [] {}, "", cli::Updated, false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments) + (c.interactive ? " interactive" : "") + " " +
                 c.tellError);
    library.Reset();
    attempts.records.clear();
    console = {};
    console.lock = &programmingLock.held;
    c.arrange();
    console.told.clear();
    console.sharedLines.clear();
    console.interactive = c.interactive;
    console.tellError = c.tellError;
    EXPECT_EQ(Run(c.arguments), c.exitCode) << console.err;
    ASSERT_EQ(console.told.size(), c.told ? 1u : 0u);
    ASSERT_FALSE(console.sharedLines.empty());
    const auto line = nlohmann::json::parse(console.sharedLines.back());
    if (c.told) {
      const auto& told = console.told.front();
      EXPECT_FALSE(told.underLock);
      EXPECT_NE(told.text.find(line["identity"].get<std::string>()), std::string::npos)
          << told.text;
      EXPECT_NE(told.text.find("switch it off and on"), std::string::npos) << told.text;
    }
    EXPECT_EQ(line.contains("notified") ? line["notified"].dump() : "none",
              c.notified ? c.notified : "none")
        << line;
    if (!c.tellError.empty()) {
      EXPECT_NE(line["warning"].get<std::string>().find(c.tellError), std::string::npos) << line;
      EXPECT_NE(console.err.find(c.tellError), std::string::npos) << console.err;
    }
  }
}

// Every run that looked at the devices replaces the machine's summary: each device's standing, the
// worst of them (no-device when none was attached), when it looked, the exit code the run ended
// with and what ran. A run that did not look leaves it alone; one that cannot keep it says so once
// and ends as it would have.
TEST_F(CliFixture, EachLookLeavesTheMachinesSummaryForInventory) {
  SimulatedLibrary& library = SimulatedLibrary::Instance();
  const struct {
    std::vector<std::string> arguments;
    std::function<void()> arrange;
    int exitCode;
    const char* state;  // nullptr: nothing written
    const char* devices;
    std::uint32_t count;
  } cases[] = {
      {{"status"}, [] {}, cli::UpdateNeeded, "needs-update", "needs-update", 1},
      {{"update"}, [] {}, cli::Updated, "waits-for-power-cycle", "waits-for-power-cycle", 1},
      {{"detect"}, [] {}, cli::Success, "needs-update", "needs-update", 1},
      {{"update", "--all"},
       [&] {
         library.SetDevices({"a", "b", "c"});
         library.Device(1).programSucceeds = false;
       },
       cli::ProgrammingFailed,
       "failed",
       "waits-for-power-cycle failed waits-for-power-cycle",
       3},
      {{"update"},
       [&] {
         library.SetDevices({"a", "b"});
       },
       cli::SeveralDevices,
       "needs-update",
       "needs-update needs-update",
       2},
      {{"status"}, [&] { library.SetDevices({}); }, cli::NoDevice, "no-device", "", 0},
      {{"detect"}, [&] { library.SetDevices({}); }, cli::Success, "no-device", "", 0},
      {{"update"}, [&] { library.SetDevices({}); }, cli::NoDevice, "no-device", "", 0},
      {{"update"}, [&] { programmingLock.heldElsewhere = true; }, cli::Locked, nullptr, "", 0},
      {{"status"}, [&] { console.elevated = false; }, cli::NotElevated, nullptr, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments) + " " + (c.state ? c.state : "none"));
    library.Reset();
    attempts.records.clear();
    programmingLock.heldElsewhere = false;
    console = {};
    c.arrange();
    EXPECT_EQ(Run(c.arguments), c.exitCode) << console.err;
    if (!c.state) {
      EXPECT_TRUE(console.written.empty());
      continue;
    }
    ASSERT_EQ(console.written.size(), 1u);
    const platform::StatusSummary& summary = console.written.front();
    EXPECT_EQ(summary.target, device::TargetFirmwareVersion);
    EXPECT_EQ(summary.state, c.state);
    EXPECT_EQ(summary.devices, c.devices);
    EXPECT_EQ(summary.deviceCount, c.count);
    EXPECT_EQ(summary.lastLook, "2027-01-15T08:00:00Z");
    EXPECT_EQ(summary.exitCode, static_cast<std::uint32_t>(c.exitCode));
    EXPECT_EQ(summary.program, "flashwright-cli");
    EXPECT_EQ(summary.command, c.arguments.front());
  }
  console = {};
  library.Reset();
  console.writeError = "access denied";
  EXPECT_EQ(Run({"status"}), cli::UpdateNeeded);
  EXPECT_NE(console.err.find("access denied"), std::string::npos) << console.err;
  EXPECT_EQ(console.err.find("access denied"), console.err.rfind("access denied")) << console.err;
}
