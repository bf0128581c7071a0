// The support commands natively: the ZIP writer read back by Python's zipfile, the recording
// switch and the archive collect writes, with the platform faked.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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
  std::string everyByte;
  for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
  std::string logLines;
  while (logLines.size() < (3u << 20)) logLines += "{\"time\":1796722215,\"result\":\"ok\"}\n";
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> entries;
  } cases[] = {
      {"empty archive", {}},
      {"one text", {{"settings.txt", "recording: on\n"}}},
      {"an empty file", {{"logs/flashwright.log.1", ""}}},
      {"every byte value, in a folder", {{"recordings/a.fwrec", everyByte}}},
      {"a name outside ASCII", {{"recordings/\xC3\xA9t\xC3\xA9.fwrec", "fwrec 1\n"}}},
      {"several, order kept, one larger than a chunk",
       {{"status.json", "{}"}, {"logs/flashwright.log", logLines}, {"a/b/c.txt", "x"}}},
  };
  // 2026-12-08 09:30:15 UTC: the format keeps even seconds.
  constexpr std::int64_t When = 1796722215;
  for (const auto& [name, entries] : cases) {
    SCOPED_TRACE(name);
    std::string written;
    cli::ZipArchive archive(
        [&written](std::string_view bytes) {
          written += bytes;
          return std::string();
        },
        When);
    nlohmann::json expected = nlohmann::json::array();
    std::size_t total = 0;
    for (const auto& [entryName, contents] : entries) {
      // In uneven pieces, as files are read.
      ASSERT_EQ(archive.Begin(entryName), "");
      for (std::size_t at = 0; at < contents.size(); at += 70001) {
        ASSERT_EQ(archive.Write(std::string_view(contents).substr(at, 70001)), "");
      }
      ASSERT_EQ(archive.End(), "");
      expected.push_back({entryName, 0x800, {2026, 12, 8, 9, 30, 14}, 8, Hex(contents)});
      total += contents.size();
    }
    ASSERT_EQ(archive.Finish(), "");
    EXPECT_EQ(archive.Entries(), entries.size());
    EXPECT_EQ(archive.BytesWritten(), written.size());
    EXPECT_EQ(ReadBackWithPython(written), expected);
    if (total > 1000) {
      EXPECT_LT(written.size(), total / 10) << "not compressed";
    }
  }
  // A name the format cannot hold, and a file that stops taking bytes: said, never a crash, and
  // the archive is not finished as if whole.
  std::size_t room = 100;
  cli::ZipArchive archive(
      [&room](std::string_view bytes) {
        if (bytes.size() > room) return std::string("the disk is full");
        room -= bytes.size();
        return std::string();
      },
      When);
  EXPECT_NE(archive.Begin(""), "");
  EXPECT_NE(archive.Begin(std::string(70000, 'n')), "");
  EXPECT_EQ(archive.Add("a.txt", "small"), "");
  EXPECT_EQ(archive.Add("b.txt", everyByte), "the disk is full");
  EXPECT_EQ(archive.Finish(), "the disk is full");
  EXPECT_EQ(archive.Entries(), 1u);
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
  // The recorder bound but refusing its folder: nothing is recorded, and both commands say why.
  console.recordingsFolderRefusal = "it is a link";
  console.err.clear();
  EXPECT_EQ(Run({"support", "record", "on"}), cli::Success);
  EXPECT_NE(console.err.find("nothing is recorded: the recordings folder cannot be used: it is a "
                             "link. "),
            std::string::npos)
      << console.err;
  console.err.clear();
  Run({"status"});
  EXPECT_NE(console.err.find("recording is on, but nothing is recorded: the recordings folder "
                             "cannot be used: it is a link\n"),
            std::string::npos)
      << console.err;
  console.recordingsFolderRefusal.clear();
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

// The entries of the ZIP collect wrote at `path`, by name, each one's contents as text; the names
// in order in `names`.
std::map<std::string, std::string> EntriesOf(const std::string& archive,
                                             std::vector<std::string>& names) {
  const nlohmann::json entries = ReadBackWithPython(archive);
  std::map<std::string, std::string> contents;
  if (!entries.is_array()) {
    ADD_FAILURE() << entries;
    return contents;
  }
  for (const auto& entry : entries) {
    EXPECT_EQ(entry[3], 8) << entry[0] << " is not deflated";
    names.push_back(entry[0]);
    const std::string hex = entry[4];
    std::string bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
      bytes += static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16));
    }
    contents[entry[0]] = bytes;
  }
  return contents;
}

// collect: the gathered files byte for byte, status --json run through the session, the versions
// and the settings; a file that cannot be read is named in the settings instead. The file is made
// new: an existing name is never replaced.
TEST_F(SupportFixture, CollectWritesOneZipOfTheGatheredFilesStatusVersionsAndSettings) {
  console.stored["data/recordings/1.fwrec"] = "fwrec 1\n";
  console.stored["data/Logs/flashwright.log"] = "{\"line\":1}\n";
  console.unreadable.insert("data/Logs/flashwright.log.1");
  console.stored["data/Logs/flashwright.log.1"] = "";
  console.supportFiles = {{"recordings/1.fwrec", "data/recordings/1.fwrec"},
                          {"logs/flashwright.log", "data/Logs/flashwright.log"},
                          {"logs/flashwright.log.1", "data/Logs/flashwright.log.1"}};
  console.recording = true;
  console.recordingsFolderRefusal = "it is a link";
  EXPECT_EQ(Run({"support", "collect"}), cli::Success);
  EXPECT_EQ(console.out.substr(console.out.rfind('\n', console.out.size() - 2) + 1),
            "support.zip\n");
  std::vector<std::string> names;
  std::map<std::string, std::string> contents = EntriesOf(console.stored.at("support.zip"), names);
  EXPECT_EQ(names, (std::vector<std::string>{"recordings/1.fwrec", "logs/flashwright.log",
                                             "status.json", "versions.txt", "settings.txt"}));
  EXPECT_EQ(contents["recordings/1.fwrec"], "fwrec 1\n");
  EXPECT_EQ(contents["versions.txt"], "Windows: 10.0.19045\n");
  EXPECT_EQ(contents["settings.txt"],
            "recording: on\nrecorder: missing (not used: it is not there)\nrecordings folder: "
            "refused, nothing is recorded: it is a link\nstatus exit code: "
            "10\nlogs/flashwright.log.1: not gathered: access denied\nnames: computers' and "
            "users' names in the logs, status and these notes replaced by pseudonyms (computer-1, "
            "user-1)\n");
  EXPECT_NE(contents["status.json"].find("\"command\":\"status\""), std::string::npos);
  EXPECT_EQ(console.out.find("\"command\""), std::string::npos) << "status went to the screen";

  // The default name taken: another one. A named file that exists: refused, left as it was.
  const std::string first = console.stored.at("support.zip");
  EXPECT_EQ(Run({"support", "collect"}), cli::Success);
  EXPECT_TRUE(console.stored.contains("support-2.zip"));
  EXPECT_EQ(console.stored.at("support.zip"), first);
  console.stored["mine.txt"] = "keep";
  EXPECT_EQ(Run({"support", "collect", "mine.txt"}), cli::ProgrammingFailed);
  EXPECT_EQ(console.stored.at("mine.txt"), "keep");
  console.unwritable.insert("locked.zip");
  EXPECT_EQ(Run({"support", "collect", "locked.zip"}), cli::ProgrammingFailed);
  EXPECT_NE(console.err.find("locked.zip: access denied"), std::string::npos) << console.err;
}

// Which recordings go in: the newest first up to --max-size, only those since the switch was
// turned on unless --all; each one left out is listed in settings.txt. Logs always go in.
TEST_F(SupportFixture, CollectGathersTheNewestRecordingsSinceTheSwitchUpToTheBound) {
  const std::string quarter(256 * 1024, 'r');  // a quarter of a MiB
  const std::string names[] = {"20261201T080000Z-aa.fwrec", "20261207T080000Z-bb.fwrec",
                               "20261208T080000Z-cc.fwrec", "20261208T090000Z-dd.fwrec",
                               "odd-name.fwrec"};
  for (const std::string& name : names) {
    console.stored["data/" + name] = "fwrec 1\n" + quarter;
    console.supportFiles.push_back({"recordings/" + name, "data/" + name});
  }
  std::string log;
  while (log.size() < 300 * 1024) log += "{\"n\":1}\n";
  console.stored["data/flashwright.log"] = log;
  console.supportFiles.push_back({"logs/flashwright.log", "data/flashwright.log"});
  console.recording = true;
  constexpr std::int64_t Dec7 = 1796630400;  // 2026-12-07 00:00:00 UTC
  const struct {
    const char* name;
    std::int64_t since;
    std::vector<std::string> arguments;
    std::vector<std::string> gathered;  // the recordings, by their first two letters after "-"
    std::vector<std::string> leftOut;   // the same, with why
  } cases[] = {
      {"since unknown, all fit", 0, {"--max-size", "2"}, {"odd", "dd", "cc", "bb", "aa"}, {}},
      {"since Dec 7: the older one left out", Dec7, {}, {"odd", "dd", "cc", "bb"}, {"aa before"}},
      {"--all takes it", Dec7, {"--all"}, {"odd", "dd", "cc", "bb", "aa"}, {}},
      {"one MiB: newest three, then nothing older",
       0,
       {"--max-size", "1"},
       {"odd", "dd", "cc"},
       {"bb size", "aa size"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    console.recordingSince = c.since;
    const std::string zip = "case-" + std::to_string(&c - cases) + ".zip";
    std::vector<std::string> arguments = {"support", "collect", zip};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ASSERT_EQ(Run(arguments), cli::Success) << console.err;
    std::vector<std::string> entries;
    std::map<std::string, std::string> contents = EntriesOf(console.stored.at(zip), entries);
    std::vector<std::string> gathered;
    for (const std::string& entry : entries) {
      if (!entry.starts_with("recordings/")) continue;
      EXPECT_EQ(contents[entry], "fwrec 1\n" + quarter) << entry;
      gathered.push_back(
          entry.starts_with("recordings/odd") ? "odd" : entry.substr(entry.find('-') + 1, 2));
    }
    EXPECT_EQ(gathered, c.gathered);
    EXPECT_EQ(contents["logs/flashwright.log"], log);
    std::vector<std::string> leftOut;
    const std::string& settings = contents["settings.txt"];
    for (std::size_t at = settings.find("recordings/"); at != std::string::npos;
         at = settings.find("recordings/", at + 1)) {
      const std::string line = settings.substr(at, settings.find('\n', at) - at);
      leftOut.push_back(line.substr(line.find('-') + 1, 2) +
                        (line.find("before recording was last turned on") != std::string::npos
                             ? " before"
                         : line.find("would pass --max-size") != std::string::npos ? " size"
                                                                                   : " ?"));
    }
    EXPECT_EQ(leftOut, c.leftOut) << settings;
  }
}

// The log's names: every computer and user name, in whichever field it stands, replaced by the
// same pseudonym throughout the archive (case aside); the system's accounts, other words holding
// a name and an organisation's domain kept; a line that is not JSON replaced by a note. With
// --keep-names the log goes in as it is. This computer is BENCH-7, the account BENCH-7\operator.
TEST_F(SupportFixture, CollectReplacesEveryComputerAndUserNameInTheLogsUnlessKept) {
  const struct {
    const char* what;
    std::string in;
    std::string out;
  } lines[] = {
      {"this computer and account, the station named after it",
       R"({"computer":"BENCH-7","user":"BENCH-7\\operator","station":"BENCH-7"})",
       R"({"computer":"computer-1","user":"computer-1\\user-1","station":"computer-1"})"},
      {"the same in other case; a domain account; a station's own name",
       R"({"computer":"bench-7","user":"CORP\\Alice","station":"Line 3"})",
       R"({"computer":"computer-1","user":"CORP\\user-2","station":"Line 3"})"},
      {"a profile folder and names in the texts",
       R"({"warning":"C:\\Users\\Bob Smith\\AppData\\x.log cannot be read on BENCH-7","reason":"ALICE's file","unit":"operator","identity":"SN-1"})",
       R"({"warning":"C:\\Users\\user-3\\AppData\\x.log cannot be read on computer-1","reason":"user-2's file","unit":"user-1","identity":"SN-1"})"},
      {"the profile folder's name, met again in another field",
       R"({"previousAttempt":{"state":"interrupted","program":"bob smith"},"path":"/users/BOB SMITH"})",
       R"({"previousAttempt":{"state":"interrupted","program":"user-3"},"path":"/users/user-3"})"},
      {"another computer, in its own account", R"({"computer":"BENCH-9","user":"CORP\\BENCH-9$"})",
       R"({"computer":"computer-2","user":"CORP\\computer-2$"})"},
      {"the system's accounts and folders, words that only hold a name",
       R"({"user":"NT AUTHORITY\\SYSTEM","warning":"C:\\Users\\Public\\x; BENCH-70 xoperator"})",
       R"({"user":"NT AUTHORITY\\SYSTEM","warning":"C:\\Users\\Public\\x; BENCH-70 xoperator"})"},
      {"not JSON", "BENCH-7 operator {",
       R"({"note":"a line that is not JSON was left out here: what it holds cannot be told apart from names"})"},
  };
  std::string log;
  std::string expected;
  for (const auto& line : lines) {
    log += line.in + "\r\n";
    expected += line.out + "\n";
  }
  log.pop_back();  // the last line without its end: still a line
  log.pop_back();
  console.stored["data/flashwright.log"] = log;
  console.supportFiles = {{"logs/flashwright.log", "data/flashwright.log"}};
  for (const bool keep : {false, true}) {
    const std::string zip = keep ? "kept.zip" : "replaced.zip";
    std::vector<std::string> arguments = {"support", "collect", zip};
    if (keep) arguments.push_back("--keep-names");
    ASSERT_EQ(Run(arguments), cli::Success) << console.err;
    std::vector<std::string> names;
    std::map<std::string, std::string> contents = EntriesOf(console.stored.at(zip), names);
    const std::string& written = contents["logs/flashwright.log"];
    if (keep) {
      EXPECT_EQ(written, log);
      continue;
    }
    std::size_t at = 0;
    for (const auto& line : lines) {
      const std::size_t end = written.find('\n', at);
      EXPECT_EQ(written.substr(at, end - at), line.out) << line.what;
      at = end == std::string::npos ? end : end + 1;
    }
    EXPECT_EQ(written, expected);
  }
}

}  // namespace
