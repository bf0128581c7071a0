// report, natively: a share of logs from several PCs (this version's lines, older versions', lines
// that cannot be read, text meant to attack the page or a spreadsheet) read into the CSV table and
// the HTML page, and the exit codes when there is nothing to read or nowhere to write.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FakeConsole.h"
#include "Fakes.h"
#include "cli/Cli.h"
#include "cli/FleetReport.h"

namespace {

struct Line {
  std::string text;
  std::string file;                    // where the share keeps it
  std::optional<std::string> outcome;  // nullopt: it cannot be read
  bool failure = false;
};

const Line Lines[] = {
    // PC-1 failed, then was updated: its latest line is the update, the failure stays listed.
    {R"({"time":"2026-12-08T10:00:00Z","program":"flashwright-cli","version":"1.4.0.0","command":"update","computer":"PC-1","user":"CORP\\admin","station":null,"path":"usb#1","identity":"ZR 2.0","versionBefore":"1.2","versionAfter":null,"state":"update-required","check":null,"result":"failed","exitCode":1,"durationMs":900,"reason":"the device stopped answering","warning":null})",
     "share/PC-1/flashwright.log.1", "failed", true},
    {R"({"time":"2026-12-08T11:00:00Z","program":"flashwright-cli","version":"1.4.0.0","command":"update","computer":"PC-1","user":"CORP\\admin","station":null,"path":"usb#1","identity":"ZR 2.0","versionBefore":"1.2","versionAfter":"1.5","state":"update-required","check":null,"result":"updated","exitCode":3010,"durationMs":41000,"reason":null,"warning":null})",
     "share/PC-1/flashwright.log", "updated", false},
    // The window's line, and a status run's (no result: its state is the outcome).
    {R"({"time":"2026-12-08T09:00:00Z","program":"Flashwright","version":"1.4.0.0","command":"update","computer":"pc-7","result":"updated","exitCode":null})",
     "share/PC-7.log", "updated", false},
    {R"({"time":"2026-12-08T09:30:00Z","command":"status","computer":"PC-3","state":"unsupported-chip","check":"chip-type","result":null,"exitCode":5})",
     "share/PC-3/flashwright.log", "unsupported-chip", true},
    // Older versions' lines: fewer keys, "" for null.
    {R"({"time":"2026-11-02T08:00:00Z","computer":"PC-2","identity":"","path":"","versionBefore":"1.5","result":"up-to-date","durationMs":12})",
     "share/PC-2/flashwright.log", "up-to-date", false},
    {R"({"time":"2026-11-02T08:05:00Z","computer":"PC-5","identity":"ZR 2.0","path":"usb#3","versionBefore":"1.2","result":"failed","durationMs":800,"previousAttempt":{"state":"interrupted"}})",
     "share/PC-5/flashwright.log", "failed", true},
    // A later version's line, with a key this one does not know.
    {R"({"time":"2026-12-08T11:30:00Z","computer":"PC-4","result":"verified","exitCode":0,"batch":{"id":[1,2]}})",
     "share/PC-4/flashwright.log", "verified", false},
    // Text written to attack the page and the spreadsheet.
    {R"j({"time":"2026-12-08T11:40:10Z","computer":"=HYPERLINK(\"http://x\")","identity":"<img src=x onerror=alert(1)>","result":"not-updatable","state":"identity-failed","reason":"a \"quoted\", <b>bold</b>\nline","exitCode":5})j",
     "share/PC-6/flashwright.log", "not-updatable", true},
    // What cannot be read: cut off, not JSON, not an object, no time, a time of another type.
    {R"({"time":"2026-12-08T11:40:10Z","computer":"PC-8","res)", "share/PC-8/flashwright.log",
     std::nullopt},
    {"disk error \x01\xff", "share/PC-8/flashwright.log", std::nullopt},
    {"[1,2]", "share/PC-8/flashwright.log", std::nullopt},
    {R"({"computer":"PC-9","result":"updated"})", "share/PC-8/flashwright.log", std::nullopt},
    {R"({"time":12,"computer":"PC-9"})", "share/PC-8/flashwright.log", std::nullopt},
};

struct ReportFixture : ::testing::Test, fakes::FakeSystem {
  fakes::FakeConsole console;
  int Run(std::vector<std::string> arguments) {
    return cli::Main(arguments, console.Services(*this));
  }
};

TEST_F(ReportFixture, AShareOfMixedLogsBecomesATableAndAPage) {
  for (const Line& line : Lines) {
    const std::optional<cli::LogLine> read = cli::ReadLogLine(line.text);
    ASSERT_EQ(read.has_value(), line.outcome.has_value()) << line.text;
    if (read) {
      EXPECT_EQ(read->Outcome(), *line.outcome) << line.text;
      EXPECT_EQ(read->Failure(), line.failure) << line.text;
    }
    console.stored[line.file] += line.text + "\r\n\n";
  }
  // Only logs are read from a folder: this one would be five lines that cannot be read.
  console.stored["share/PC-8/notes.txt"] = "a\nb\nc\nd\ne\n";
  // No administrator rights, library or lock are needed.
  console.elevated = false;
  ASSERT_EQ(Run({"report", "share", "--csv", "out.csv", "--html", "out.html"}), cli::Success)
      << console.err;
  EXPECT_EQ(console.out, "out.csv\nout.html\n");
  EXPECT_NE(console.err.find("skipped 5 line(s)"), std::string::npos) << console.err;
  EXPECT_TRUE(modules.lookups.empty() && modules.loadedFiles.empty());
  EXPECT_EQ(programmingLock.takes, 0);

  // One row per PC (pc-7 and PC-7 alike), its latest line; a formula gets an apostrophe, and a
  // field with a quote, comma or line break is quoted.
  const std::string& csv = console.stored["out.csv"];
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + 7 + 1) << csv;  // a line break in a field
  EXPECT_NE(csv.find("\r\nPC-1,2026-12-08T11:00:00Z,flashwright-cli,1.4.0.0,update,CORP\\admin,,"
                     "ZR 2.0,usb#1,1.2,1.5,update-required,,updated,3010,,\r\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find("\r\n\"'=HYPERLINK(\"\"http://x\"\")\","), std::string::npos) << csv;
  EXPECT_NE(csv.find(",\"a \"\"quoted\"\", <b>bold</b>\nline\","), std::string::npos) << csv;
  EXPECT_NE(csv.find("\r\nPC-2,2026-11-02T08:00:00Z,,,,,,,,1.5,,,,up-to-date,,,\r\n"),
            std::string::npos)
      << csv;

  // The page: nothing from a log becomes markup; the skipped lines are counted; two PCs updated;
  // the failures newest first, PC-1's earlier one included.
  const std::string& page = console.stored["out.html"];
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
  EXPECT_NE(page.find("5 lines could not be read"), std::string::npos);
  EXPECT_NE(page.find("7 PCs, 8 log lines from 9 files"), std::string::npos);
  const std::size_t updated = page.find(">updated</text>");
  ASSERT_NE(updated, std::string::npos) << page;
  EXPECT_EQ(page.substr(page.find("</text>", updated + 15) - 2, 2), ">2");
  std::vector<std::size_t> failures;
  for (const char* time : {"2026-12-08T11:40:10Z</td><td>=HYPERLINK", "2026-12-08T10:00:00Z",
                           "2026-12-08T09:30:00Z", "2026-11-02T08:05:00Z"}) {
    failures.push_back(page.find(time, page.find("Failures, newest first")));
  }
  EXPECT_TRUE(std::is_sorted(failures.begin(), failures.end()) &&
              failures.back() != std::string::npos)
      << page;
}

// 1 when no line could be read (nothing is written) or a file could not be written; 2 for what
// is not a command line of report; with no PATH, this PC's shared log (its older file may not
// exist yet).
TEST_F(ReportFixture, ExitCodesSayWhetherTheReportWasWritten) {
  const std::string shared = console.sharedLog;
  struct Case {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> files;
    int exitCode;
    std::string err;
  };
  const std::string good = Lines[1].text + "\n";
  for (const Case& run : std::vector<Case>{
           {{"report", "share"}, {{"share/a.log", good}}, cli::Success, ""},
           {{"report"}, {{shared, good}}, cli::Success, ""},
           {{"report", "none"},
            {{"share/a.log", good}},
            cli::ProgrammingFailed,
            "cannot read none: no such file or folder"},
           {{"report", "share"},
            {{"share/a.log", "[]\n"}},
            cli::ProgrammingFailed,
            "no log line could be read"},
           {{"report", "share", "none"}, {{"share/a.log", good}}, cli::Success, "cannot read none"},
           {{"report", "share", "--html", "locked.html"},
            {{"share/a.log", good}},
            cli::ProgrammingFailed,
            "cannot write locked.html: access denied"},
           {{"report", "a.log", "--csv", "x", "--html", "x"},
            {},
            cli::Usage,
            "--csv and --html need two different files"},
           {{"report", "--csv", "--json"}, {}, cli::Usage, "--csv needs a file name"},
           {{"report", "--json"}, {}, cli::Usage, "--json"},
           {{"report", "--log", "a.log"}, {}, cli::Usage, ""}}) {
    SCOPED_TRACE(testing::PrintToString(run.arguments));
    console = {};
    console.stored = run.files;
    console.unwritable = {"locked.html"};
    EXPECT_EQ(Run(run.arguments), run.exitCode);
    // A usage error with --json is a document on standard output.
    EXPECT_NE((console.err + console.out).find(run.err), std::string::npos)
        << console.err << console.out;
    const bool written = console.stored.contains("flashwright-report.html");
    EXPECT_EQ(written, run.exitCode == cli::Success);
    EXPECT_EQ(console.stored.contains("flashwright-report.csv"),
              written || run.err.starts_with("cannot write"));
  }
}

}  // namespace
