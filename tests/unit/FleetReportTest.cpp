// report, natively: a share of logs from several PCs (this version's lines, older versions',
// station runs, a PC without a device, a PC fixed since its failure) read into the CSV table and
// the HTML page; what anyone could have written to a share (over-long and deeply nested lines,
// times ahead or not times at all, lines naming another PC, text meant to attack the page or a
// spreadsheet) skipped, counted or defused; the bounds of what the report holds; and the exit
// codes when there is nothing to read or nowhere to write.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "FakeConsole.h"
#include "Fakes.h"
#include "cli/Cli.h"
#include "cli/FleetReport.h"
#include "trail/Reader.h"
#include "trail/Writer.h"

namespace {

// A time `hours` before now, as the log writes it.
std::string HoursAgo(int hours) { return trail::UtcTime(std::time(nullptr) - hours * 3600); }

// A line of this version, its time `hours` ago, with `rest` (members after the computer).
std::string LineOf(int hours, const std::string& computer, const std::string& rest) {
  return R"({"time":")" + HoursAgo(hours) +
         R"(","program":"flashwright-cli","version":"1.4.0.0","command":"update","computer":")" +
         computer + "\"," + rest + "}";
}

struct ReportFixture : ::testing::Test, fakes::FakeSystem {
  fakes::FakeConsole console;
  int Run(std::vector<std::string> arguments) {
    return cli::Main(arguments, console.Services(*this));
  }
  void Add(const std::string& file, const std::string& line) {
    console.stored[file] += line + "\r\n";
  }
  // The CSV's rows after its header, each as its first three fields and its computer's order.
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    const std::string& csv = console.stored["flashwright-report.csv"];
    std::size_t at = csv.find("\r\n") + 2;
    while (at < csv.size()) {
      const std::size_t end = csv.find("\r\n", at);
      std::string row = csv.substr(at, end - at);
      std::size_t third = 0;
      for (int i = 0; i < 3; ++i) third = row.find("\",\"", third) + 1;
      rows.push_back(row.substr(0, third));
      at = end + 2;
    }
    return rows;
  }
};

// A fleet as an administrator finds it: one row per device, from its latest line, in the order of
// what needs a person; a PC fixed since its failure among the done, its failure in the history;
// the PCs with no device apart; station units by run.
TEST_F(ReportFixture, EachDeviceInTheOrderOfWhatNeedsAPerson) {
  const std::string device1 = R"("path":"usb#1","identity":"ZR 2.0","versionBefore":"1.2",)";
  const std::string device2 = R"("path":"usb#2","identity":"ZR 2.0","versionBefore":"1.2",)";
  // PC-1 failed, then was updated and found at the target: done, the failure history.
  Add("share/PC-1/flashwright.log.1",
      LineOf(30, "PC-1", device1 + R"("result":"failed","reason":"the device stopped answering")"));
  Add("share/PC-1/flashwright.log",
      LineOf(20, "PC-1", device1 + R"("state":"update-required","result":"updated")"));
  Add("share/PC-1/flashwright.log",
      LineOf(19, "PC-1", device1 + R"("state":"up-to-date","result":"up-to-date")"));
  // PC-2 has two devices: one waits for its power cycle for five days, the other did not take.
  Add("share/PC-2/flashwright.log",
      LineOf(120, "PC-2", device1 + R"("state":"update-required","result":"pending-power-cycle")"));
  Add("share/PC-2/flashwright.log",
      LineOf(2, "PC-2", device2 + R"("result":"did-not-take","reason":"reports 1.2")"));
  // PC-3: a status run of an older version, its state the standing; PC-4 has no device; PC-5's
  // run stopped before a device; PC-6 waits for its power cycle since an hour.
  Add("share/PC-3.log",
      R"({"time":")" + HoursAgo(5) +
          R"(","computer":"pc-3","path":"usb#1","identity":"","state":"unsupported-chip","result":""})");
  Add("share/PC-4/flashwright.log", LineOf(3, "PC-4", R"("state":"no-device","exitCode":3)"));
  Add("share/PC-5/flashwright.log",
      LineOf(3, "PC-5", R"("state":"error","reason":"the library is missing")"));
  Add("share/PC-6/flashwright.log",
      LineOf(1, "PC-6", device1 + R"("state":"update-required","result":"updated")"));
  // A station run: unit 1 passed, unit 2 failed after its programming.
  for (const auto& [sequence, unit, result] :
       {std::tuple("1", "SN-1", "updated"), std::tuple("1", "SN-1", "verified"),
        std::tuple("2", "SN-2", "updated"), std::tuple("2", "SN-2", "failed")}) {
    Add("share/LINE-PC/flashwright.log",
        LineOf(4, "LINE-PC",
               std::string(R"("station":"LINE-2","run":"r1","sequence":)") + sequence +
                   R"(,"unit":")" + unit + R"(",)" + device1 + R"("result":")" + result + "\""));
  }
  console.elevated = false;  // no administrator rights, library or lock are needed
  ASSERT_EQ(Run({"report", "share", "--pending-days", "4"}), cli::Success) << console.err;
  EXPECT_TRUE(modules.lookups.empty() && modules.loadedFiles.empty());
  EXPECT_EQ(programmingLock.takes, 0);
  EXPECT_EQ(console.err, "");

  EXPECT_EQ(Rows(), (std::vector<std::string>{
                        R"("PC-5","failed","yes")",
                        R"("PC-2","did-not-take","yes")",
                        R"("PC-2","waits-for-power-cycle","yes")",  // over four days
                        R"("pc-3","not-updatable","yes")",
                        R"("PC-6","waits-for-power-cycle","no")",
                        R"("PC-1","done","no")",
                        R"("PC-4","","no")",
                        R"("LINE-PC","done","no")",
                        R"("LINE-PC","failed","yes")",
                    }));
  const std::string& csv = console.stored["flashwright-report.csv"];
  EXPECT_NE(csv.find(R"("LINE-2","r1","2","SN-2","ZR 2.0","usb#1")"), std::string::npos) << csv;

  // The problems apart from the rest; the history collapsed, PC-1's failure in it.
  const std::string& page = console.stored["flashwright-report.html"];
  const std::size_t problems = page.find("<h2>Needs a person</h2>");
  const std::size_t rest = page.find("<h2>The other devices</h2>");
  const std::size_t history = page.find("<details>");
  ASSERT_TRUE(problems < rest && rest < history && history != std::string::npos) << page;
  EXPECT_EQ(page.find("<td>PC-1</td>", problems), page.find("<td>PC-1</td>", rest));
  EXPECT_NE(page.find("the device stopped answering", history), std::string::npos);
  EXPECT_NE(page.find("<h2>PCs with no device</h2>\n<p>PC-4</p>"), std::string::npos) << page;
  EXPECT_NE(page.find("LINE-2, run r1 on LINE-PC: 2 units, 1 passed, 1 failed"), std::string::npos);
  EXPECT_NE(page.find(">Waits over 4 days</text>"), std::string::npos);
}

// What anyone could write to a share: each gives a report (exit 0), with what it skipped counted
// and what it holds defused.
TEST_F(ReportFixture, HostileLinesAreSkippedCountedOrDefused) {
  const std::string good = LineOf(1, "PC-1", R"("path":"usb#1","result":"verified")");
  const std::string deep = R"({"time":")" + HoursAgo(1) + R"(","x":)" + std::string(100000, '[') +
                           std::string(100000, ']') + "}";
  struct Case {
    std::string name, file, line;
    std::string err;        // what standard error says
    std::string csv, page;  // what the table and the page hold
  };
  const Case cases[] = {
      {"over-long", "share/PC-1/flashwright.log",
       LineOf(1, "PC-1", R"("reason":")" + std::string(20000, 'x') + "\""), "1 too long", "",
       "Skipped lines: 1 too long"},
      {"nested", "share/PC-1/flashwright.log", LineOf(1, "PC-1", R"("x":[[[[[[1]]]]]])"),
       "1 not readable", "", ""},
      {"deeper than a line", "share/PC-1/flashwright.log", deep, "1 too long", "", ""},
      {"ahead", "share/PC-2/flashwright.log",
       R"({"time":"9999-12-31T23:59:59Z","computer":"PC-2","path":"usb#1","result":"failed"})",
       "1 dated more than a day ahead", "", ""},
      {"not a time", "share/PC-2/flashwright.log",
       R"({"time":"~","computer":"PC-2","path":"usb#1","result":"failed"})",
       "1 without a valid time", "", ""},
      {"no such day", "share/PC-2/flashwright.log",
       R"({"time":"2026-02-29T10:00:00Z","computer":"PC-2","path":"usb#1","result":"failed"})",
       "1 without a valid time", "", ""},
      {"foreign", "share/PC-5/flashwright.log",
       LineOf(1, "PC-1", R"("path":"usb#1","result":"failed")"), "1 line(s) name another PC",
       R"("names another PC than share/PC-5/flashwright.log")",
       "<td>names another PC than share/PC-5/flashwright.log</td>"},
      {"formula", "share/x;=1+1;y.log",
       LineOf(1, "x;=1+1;y", R"("path":"usb#1","result":"verified")"), "", R"("x;'=1+1;y","done")",
       ""},
      {"formula at the start", "share/a.log",
       LineOf(1, "a",
              R"j("path":"@SUM(1)","identity":"-2+3","reason":"\t=1;+2","result":"verified")j"),
       "", "", ""},
      {"bidi and C1", "share/a.log",
       LineOf(
           1, "a",
           R"("path":"usb#1","identity":"\u202egnp.exe\u2066\u200f\u0085\u001b","result":"failed")"),
       "", "", "<td>\xEF\xBF\xBDgnp.exe\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD</td>"},
      {"markup", "share/a.log",
       LineOf(1, "a",
              R"j("path":"usb#1","identity":"<img src=x onerror=alert(1)>","result":"failed")j"),
       "", "", "<td>&lt;img src=x onerror=alert(1)&gt;</td>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    console = {};
    Add("share/PC-1/flashwright.log", good);
    Add(c.file, c.line);
    ASSERT_EQ(Run({"report", "share"}), cli::Success) << console.err;
    EXPECT_NE(console.err.find(c.err), std::string::npos) << console.err;
    if (c.err.empty()) {
      EXPECT_EQ(console.err, "");
    }
    const std::string& csv = console.stored["flashwright-report.csv"];
    const std::string& page = console.stored["flashwright-report.html"];
    if (c.name == "formula at the start") {
      EXPECT_NE(csv.find(R"j("'-2+3","'@SUM(1)")j"), std::string::npos) << csv;
      EXPECT_NE(csv.find("\"'\t=1;'+2\""), std::string::npos) << csv;
    } else {
      EXPECT_NE(csv.find(c.csv), std::string::npos) << csv;
    }
    EXPECT_NE(page.find(c.page), std::string::npos) << page;
    EXPECT_EQ(page.find("<img"), std::string::npos);
    EXPECT_EQ(page.find("\xE2\x80\xAE"), std::string::npos);
    EXPECT_EQ(page.find("\xC2\x85"), std::string::npos);
  }
}

// Older versions' lines (fewer keys, "" for null) and words this version does not know read; what
// is not a line does not.
TEST(TrailReader, ReadsOldAndNewLinesAndRefusesTheRest) {
  struct Case {
    std::string text;
    trail::Reading reading;
  };
  trail::Line line;
  ASSERT_EQ(
      trail::ReadLine(
          R"({"time":"2026-11-02T08:05:00Z","computer":"PC-5","identity":"","result":"failed","state":"melted","previousAttempt":{"state":"interrupted","program":"Flashwright","started":"2026-11-02T08:00:00Z"},"batch":{"id":[1,2]}})",
          line),
      trail::Reading::Read);
  EXPECT_EQ(line.time, 1793606700);
  EXPECT_EQ(line.result, trail::Result::Failed);
  EXPECT_FALSE(line.state.has_value());  // a state this version does not know
  EXPECT_EQ(line.interruptedStarted, line.time - 300);
  for (const Case& c : std::vector<Case>{
           {R"({"time":"2026-12-08T11:40:10Z","computer":"PC-8","res)", trail::Reading::Unreadable},
           {"disk error \x01\xff", trail::Reading::Unreadable},
           {"[1,2]", trail::Reading::Unreadable},
           {R"({"computer":"PC-9","result":"updated"})", trail::Reading::BadTime},
           {R"({"time":12})", trail::Reading::BadTime},
           {R"({"time":"2026-12-08T24:00:00Z"})", trail::Reading::BadTime},
           {R"({"time":"2026-12-08T11:00:00+01:00"})", trail::Reading::BadTime},
           {R"({"time":"2024-02-29T00:00:00Z"})", trail::Reading::Read},
       }) {
    trail::Line read;
    EXPECT_EQ(trail::ReadLine(c.text, read), c.reading) << c.text;
  }
}

// However many lines, the report holds the newest failures and a bounded number of PCs, devices
// and units, and says what it left out; lines cross chunks and files end without a line break.
TEST(FleetReaderBounds, HoldsNoMoreThanItsBounds) {
  const std::int64_t now = 1796000000;
  cli::FleetReader reader(now, 3, {.failures = 5, .computers = 8, .devices = 6, .units = 2});
  reader.Begin("share/a.log", {});
  std::string chunk;
  for (int i = 0; i < 200; ++i) {
    chunk += R"({"time":")" + trail::UtcTime(now - 1000 + i) + R"(","computer":"PC-)" +
             std::to_string(i % 10) + R"(","path":"usb#)" + std::to_string(i % 3) +
             R"(","result":"failed","reason":")" + std::to_string(i) + "\"}\n";
    if (chunk.size() > 700) {
      reader.Take(std::string_view(chunk).substr(0, 333));
      reader.Take(std::string_view(chunk).substr(333));
      chunk.clear();
    }
  }
  chunk += R"({"time":")" + trail::UtcTime(now) +
           R"(","computer":"PC-1","path":"usb#9","result":"verified"})";
  reader.Take(chunk);
  reader.End();
  const cli::FleetSummary summary = reader.Summary();
  EXPECT_EQ(summary.lines, 201u);
  EXPECT_EQ(summary.computers, 8u);
  EXPECT_EQ(summary.devices.size(), 6u);
  EXPECT_EQ(summary.computersDropped, 40u);  // PC-8 and PC-9's lines
  EXPECT_GT(summary.devicesDropped, 0u);
  ASSERT_EQ(summary.failures.size(), 5u);
  EXPECT_EQ(summary.olderFailures, 195u);
  EXPECT_EQ(summary.failures.front().line.reason, "199");
  EXPECT_EQ(summary.failures.back().line.reason, "195");
}

// 1 when no line could be read (nothing is written) or a file could not be written; 2 for what
// is not a command line of report; with no PATH, this PC's shared log (its older file may not
// exist yet); a file that cannot be read whole is named and the report still written.
TEST_F(ReportFixture, ExitCodesSayWhetherTheReportWasWritten) {
  const std::string shared = console.sharedLog;
  struct Case {
    std::vector<std::string> arguments;
    std::map<std::string, std::string> files;
    int exitCode;
    std::string err;
  };
  const std::string good = LineOf(1, "PC-1", R"("path":"usb#1","result":"updated")") + "\n";
  const std::string many = std::string(3000, '\n') + good;
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
           {{"report", "share"},
            {{"share/a.log", good}, {"share/cut.log", many}},
            cli::Success,
            "cannot read share/cut.log: read only in part: the network name"},
           {{"report", "share", "--html", "locked.html"},
            {{"share/a.log", good}},
            cli::ProgrammingFailed,
            "cannot write locked.html: access denied"},
           {{"report", "a.log", "--csv", "x", "--html", "x"},
            {},
            cli::Usage,
            "--csv and --html need two different files"},
           {{"report", "share", "--pending-days", "-1"}, {}, cli::Usage, "--pending-days"},
           {{"report", "--csv", "--json"}, {}, cli::Usage, "--csv needs a file name"},
           {{"report", "--json"}, {}, cli::Usage, "--json"},
           {{"report", "--log", "a.log"}, {}, cli::Usage, ""}}) {
    SCOPED_TRACE(testing::PrintToString(run.arguments));
    console = {};
    console.stored = run.files;
    console.unwritable = {"locked.html"};
    console.cutOff = {"share/cut.log"};
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
