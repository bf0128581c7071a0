// The support commands natively: the ZIP writer read back by Python's zipfile, the recording
// switch and the archive collect writes, with the platform faked.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "FakeConsole.h"
#include "Fakes.h"
#include "cli/Cli.h"
#include "cli/ZipArchive.h"

namespace {

namespace fs = std::filesystem;

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (const char c : bytes) {
    hex += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4];
    hex += "0123456789abcdef"[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

// What Python's zipfile reads in `archive`: every entry's name, UTF-8 flag, time and contents
// (hex), after checking every entry's CRC. Null when it cannot read it at all.
nlohmann::json ReadBackWithPython(const std::string& archive) {
  const fs::path file = fs::temp_directory_path() / ("fw-zip-" + std::to_string(::getpid()));
  std::ofstream(file, std::ios::binary) << archive;
  const std::string command =
      "python3 -c 'import json,sys,zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "print(json.dumps([[i.filename, i.flag_bits & 0x800, list(i.date_time), i.compress_type,"
      " z.read(i).hex()] for i in z.infolist()]))' " +
      file.string() + " 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (std::size_t read = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, read);
    pclose(pipe);
  }
  fs::remove(file);
  return nlohmann::json::parse(output, nullptr, false);
}

TEST(ZipArchive, PythonReadsBackEveryEntryWithItsNameTimeAndBytes) {
  EXPECT_EQ(cli::Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(cli::Crc32(""), 0u);
  std::string everyByte;
  for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> entries;
  } cases[] = {
      {"empty archive", {}},
      {"one text", {{"settings.txt", "recording: on\n"}}},
      {"an empty file", {{"logs/flashwright.log.1", ""}}},
      {"every byte value, in a folder", {{"recordings/a.fwrec", everyByte}}},
      {"a name outside ASCII", {{"recordings/\xC3\xA9t\xC3\xA9.fwrec", "fwrec 1\n"}}},
      {"several, order kept",
       {{"status.json", "{}"}, {"versions.txt", "Windows: 10.0\n"}, {"a/b/c.txt", "x"}}},
  };
  // 2026-12-08 09:30:15 UTC: the format keeps even seconds.
  constexpr std::int64_t When = 1796722215;
  for (const auto& [name, entries] : cases) {
    SCOPED_TRACE(name);
    cli::ZipArchive archive(When);
    nlohmann::json expected = nlohmann::json::array();
    for (const auto& [entryName, contents] : entries) {
      ASSERT_TRUE(archive.Add(entryName, contents));
      expected.push_back({entryName, 0x800, {2026, 12, 8, 9, 30, 14}, 0, Hex(contents)});
    }
    EXPECT_EQ(archive.Entries(), entries.size());
    EXPECT_EQ(ReadBackWithPython(archive.Finish()), expected);
  }
  cli::ZipArchive archive(When);
  EXPECT_FALSE(archive.Add("", "no name"));
  EXPECT_FALSE(archive.Add(std::string(70000, 'n'), "too long a name"));
  EXPECT_EQ(archive.Entries(), 0u);
}

struct SupportFixture : ::testing::Test, fakes::FakeSystem {
  fakes::FakeConsole console;

  void SetUp() override { fakes::SimulatedLibrary::Instance().Reset(); }
  int Run(const std::vector<std::string>& arguments) {
    return cli::Main(arguments, console.Services(*this));
  }
};

TEST_F(SupportFixture, RecordSetsTheSwitchOnlyForAnAdministratorAndStatusSaysWhileItIsOn) {
  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{"support"},
                                             {"support", "record"},
                                             {"support", "record", "yes"},
                                             {"support", "collect", "a.zip", "b.zip"},
                                             {"support", "record", "on", "--json"}}) {
    EXPECT_EQ(Run(wrong), cli::Usage) << testing::PrintToString(wrong);
  }
  EXPECT_NE(console.err.find("STATE is on or off, not yes\n"), std::string::npos) << console.err;
  console.elevated = false;
  EXPECT_EQ(Run({"support", "record", "on"}), cli::NotElevated);
  EXPECT_EQ(Run({"support", "collect"}), cli::NotElevated);
  EXPECT_FALSE(console.recording);
  EXPECT_TRUE(console.stored.empty());

  console.elevated = true;
  EXPECT_EQ(Run({"support", "record", "on"}), cli::Success);
  EXPECT_TRUE(console.recording);
  EXPECT_NE(console.err.find("nothing is recorded yet"), std::string::npos) << console.err;
  console.err.clear();
  console.recorderPresent = true;
  EXPECT_EQ(Run({"support", "record", "on"}), cli::Success);
  EXPECT_EQ(console.err, "");
  EXPECT_TRUE(modules.loadedFiles.empty()) << "the switch binds no library";
  // While it is on, status says so, and whether anything is recorded.
  EXPECT_EQ(Run({"status"}), cli::UpdateNeeded);
  EXPECT_NE(console.err.find("support's recording is on: this run is recorded"), std::string::npos)
      << console.err;
  console.recorderPresent = false;
  console.err.clear();
  Run({"status"});
  EXPECT_NE(console.err.find("nothing is recorded: the recorder cannot be used: it is not there\n"),
            std::string::npos)
      << console.err;
  EXPECT_EQ(Run({"support", "record", "off"}), cli::Success);
  EXPECT_FALSE(console.recording);
  console.err.clear();
  Run({"status"});
  EXPECT_EQ(console.err.find("recording"), std::string::npos) << console.err;
}

// collect: the gathered files byte for byte, status --json run through the session, the versions
// and the settings; a file that cannot be read is named in the settings instead.
TEST_F(SupportFixture, CollectWritesOneZipOfTheGatheredFilesStatusVersionsAndSettings) {
  console.stored["data/recordings/1.fwrec"] = "fwrec 1\n";
  console.stored["data/Logs/flashwright.log"] = "{\"line\":1}\n";
  console.unreadable.insert("data/Logs/flashwright.log.1");
  console.stored["data/Logs/flashwright.log.1"] = "";
  console.supportFiles = {{"recordings/1.fwrec", "data/recordings/1.fwrec"},
                          {"logs/flashwright.log", "data/Logs/flashwright.log"},
                          {"logs/flashwright.log.1", "data/Logs/flashwright.log.1"}};
  console.recording = true;
  EXPECT_EQ(Run({"support", "collect"}), cli::Success);
  EXPECT_EQ(console.out.substr(console.out.rfind('\n', console.out.size() - 2) + 1),
            "support.zip\n");
  const nlohmann::json entries = ReadBackWithPython(console.stored.at("support.zip"));
  ASSERT_TRUE(entries.is_array()) << entries;
  std::vector<std::string> names;
  std::map<std::string, std::string> contents;
  for (const auto& entry : entries) {
    names.push_back(entry[0]);
    contents[entry[0]] = entry[4];
  }
  EXPECT_EQ(names, (std::vector<std::string>{"recordings/1.fwrec", "logs/flashwright.log",
                                             "status.json", "versions.txt", "settings.txt"}));
  EXPECT_EQ(contents["recordings/1.fwrec"], Hex("fwrec 1\n"));
  EXPECT_EQ(contents["versions.txt"], Hex("Windows: 10.0.19045\n"));
  EXPECT_EQ(contents["settings.txt"],
            Hex("recording: on\nrecorder: missing (not used: it is not there)\nstatus exit code: "
                "10\nlogs/flashwright.log.1: not gathered: access denied\n"));
  EXPECT_NE(contents["status.json"].find(Hex("\"command\":\"status\"")), std::string::npos);
  EXPECT_EQ(console.out.find("\"command\""), std::string::npos) << "status went to the screen";

  EXPECT_EQ(Run({"support", "collect", "named.zip"}), cli::Success);
  EXPECT_TRUE(console.stored.contains("named.zip"));
  console.unwritable.insert("locked.zip");
  EXPECT_EQ(Run({"support", "collect", "locked.zip"}), cli::ProgrammingFailed);
  EXPECT_NE(console.err.find("locked.zip: access denied"), std::string::npos) << console.err;
}

}  // namespace
