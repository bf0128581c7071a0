// The fleet's summary written out: a CSV table for spreadsheets and an HTML page for people, both
// made of text read from logs that anyone could have written to, so nothing in them is trusted.
// See FleetReport.h.
#include <algorithm>
#include <array>
#include <string>

#include "cli/FleetReport.h"
#include "trail/Writer.h"

namespace cli {
namespace {

// Each class: its standing in the trail's words, how the page names it, and its bar's colour.
struct ClassRow {
  Class standing;
  trail::Standing word;
  std::string_view title;
  std::string_view tone;
};
constexpr ClassRow Classes[] = {
    {Class::Failed, trail::Standing::Failed, "Programming failed", "bad"},
    {Class::DidNotTake, trail::Standing::DidNotTake, "Did not take after its power cycle", "bad"},
    {Class::Interrupted, trail::Standing::Interrupted, "Cut short", "bad"},
    {Class::Overdue, trail::Standing::WaitsForPowerCycle, "Waits for its power cycle too long",
     "bad"},
    {Class::NotUpdatable, trail::Standing::NotUpdatable, "Cannot be updated", "bad"},
    {Class::NeedsUpdate, trail::Standing::NeedsUpdate, "Needs the update", "waiting"},
    {Class::WaitsForPowerCycle, trail::Standing::WaitsForPowerCycle, "Waits for its power cycle",
     "waiting"},
    {Class::Done, trail::Standing::Done, "Done", "good"},
};
const ClassRow& RowOf(Class standing) { return Classes[static_cast<std::size_t>(standing)]; }

// Appends one character's UTF-8 bytes of the replacement character.
constexpr std::string_view Replacement = "\xEF\xBF\xBD";

// The length of a character at the start of `text` that could hide or reorder what a person
// reads: a C0 or C1 control, DEL, or a bidirectional mark, embedding, override or isolate
// (U+200E-200F, U+202A-202E, U+2066-2069); 0 for any other.
std::size_t HidingAt(std::string_view text) {
  const auto at = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
  };
  if (at(0) < 0x20 || at(0) == 0x7F) return 1;
  if (at(0) == 0xC2 && at(1) >= 0x80 && at(1) <= 0x9F) return 2;
  if (at(0) == 0xE2 && at(1) == 0x80 &&
      (at(2) == 0x8E || at(2) == 0x8F || (at(2) >= 0xAA && at(2) <= 0xAE))) {
    return 3;
  }
  if (at(0) == 0xE2 && at(1) == 0x81 && at(2) >= 0xA6 && at(2) <= 0xA9) return 3;
  return 0;
}

// Text for the page: markup characters as references, and what could hide text as U+FFFD. The
// text is UTF-8 already (the reader reads nothing else).
std::string Html(std::string_view text) {
  if (text.empty()) return "&#8212;";
  std::string escaped;
  while (!text.empty()) {
    if (const std::size_t hiding = HidingAt(text); hiding > 0) {
      escaped += Replacement;
      text.remove_prefix(hiding);
      continue;
    }
    switch (const char c = text.front()) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
    text.remove_prefix(1);
  }
  return escaped;
}

// Whether a spreadsheet would read a cell that starts with `c` as a formula.
bool StartsFormula(char c) { return std::string_view("=+-@\t\r").find(c) != std::string::npos; }

// A CSV field (RFC 4180), always quoted, quotes doubled. A spreadsheet runs a cell that starts
// with = + - @ (or a tab or carriage return before one) as a formula, and one that splits on
// semicolons starts a cell after each ';': an apostrophe goes before each such start. The
// apostrophe is the spreadsheets' own mark of "text, not a formula", shown by none of them, and
// unlike a leading space it survives their trimming.
std::string Csv(std::string_view text) {
  std::string quoted = "\"";
  for (std::size_t at = 0; at < text.size(); ++at) {
    if ((at == 0 || text[at - 1] == ';') && StartsFormula(text[at])) quoted += '\'';
    quoted += text[at];
    if (text[at] == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string Number(std::size_t count) { return std::to_string(count); }
std::string Time(std::int64_t time) { return time == 0 ? std::string() : trail::UtcTime(time); }
template <class Type>
std::string_view Word(std::optional<Type> value) {
  return value ? trail::WordOf(*value) : std::string_view();
}
std::string Optional(std::optional<int> value) {
  return value ? std::to_string(*value) : std::string();
}

constexpr std::string_view Style = R"(<style>
body { font: 14px/1.4 system-ui, "Segoe UI", sans-serif; margin: 24px; color: #1b1b1b; }
h1 { font-size: 22px; margin: 0 0 8px; } h2 { font-size: 17px; margin: 28px 0 8px; }
h3 { font-size: 15px; margin: 18px 0 6px; } summary { font-size: 17px; font-weight: 600; }
table { border-collapse: collapse; } th { background: #f3f3f3; }
th, td { padding: 4px 10px; text-align: left; border-bottom: 1px solid #ddd; vertical-align: top;
  white-space: nowrap; } td:last-child { white-space: normal; }
.skipped, .flag { color: #c62828; font-weight: 600; }
.good { fill: #2e7d32; } .waiting { fill: #e0a100; } .bad { fill: #c62828; }
.other { fill: #757575; } svg text { font: 13px system-ui, "Segoe UI", sans-serif; fill: #1b1b1b; }
</style>
)";

// Appends each of `parts` to `text`.
template <class... Parts>
void Append(std::string& text, const Parts&... parts) {
  (text.append(std::string_view(parts)), ...);
}

// Devices per class as horizontal bars (the PCs without a device last, in grey): a label, the
// bar, the count.
std::string Chart(const FleetSummary& summary) {
  struct Bar {
    std::string label;
    std::string_view tone;
    std::size_t count;
  };
  std::vector<Bar> bars;
  for (const auto& [standing, count] : summary.counts) {
    std::string label(RowOf(standing).title);
    if (standing == Class::Overdue)
      label = "Waits over " + std::to_string(summary.pendingDays) + " days";
    bars.push_back({label, RowOf(standing).tone, count});
  }
  if (!summary.noDevice.empty())
    bars.push_back({"PCs with no device", "other", summary.noDevice.size()});
  constexpr int Label = 260, Longest = 380, RowHeight = 28, BarHeight = 20;
  std::size_t most = 1;
  for (const Bar& bar : bars) most = std::max(most, bar.count);
  const int height = static_cast<int>(bars.size()) * RowHeight + 4;
  std::string svg;
  Append(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"",
         std::to_string(Label + Longest + 80), "\" height=\"", std::to_string(height),
         "\" role=\"img\" aria-label=\"Devices by where they stand\">\n");
  int y = 2;
  for (const Bar& bar : bars) {
    const int width = std::max(2, static_cast<int>(bar.count * Longest / most));
    const std::string middle = std::to_string(y + BarHeight / 2 + 5);
    Append(svg, "<text x=\"", std::to_string(Label - 8), "\" y=\"", middle,
           "\" text-anchor=\"end\">", Html(bar.label), "</text><rect class=\"", bar.tone, "\" x=\"",
           std::to_string(Label), "\" y=\"", std::to_string(y), "\" width=\"",
           std::to_string(width), "\" height=\"", std::to_string(BarHeight), "\"/><text x=\"",
           std::to_string(Label + width + 6), "\" y=\"", middle, "\">", Number(bar.count),
           "</text>\n");
    y += RowHeight;
  }
  return svg + "</svg>\n";
}

std::string Cells(std::initializer_list<std::string_view> cells, std::string_view tag = "td") {
  std::string row = "<tr>";
  for (const std::string_view cell : cells) Append(row, "<", tag, ">", Html(cell), "</", tag, ">");
  return row + "</tr>\n";
}

std::string Title(const FleetSummary& summary, Class standing) {
  if (standing != Class::Overdue) return std::string(RowOf(standing).title);
  return "Waits for its power cycle over " + std::to_string(summary.pendingDays) + " days";
}

// A table of devices: the problems, or the rest.
std::string DeviceTable(const FleetSummary& summary, bool problems) {
  std::string table =
      "<table>\n" + Cells({"Computer", "Where it stands", "Since", "Device identity", "Path",
                           "Firmware before", "after", "State", "Result", "Reason", "Doubt"},
                          "th");
  std::size_t rows = 0;
  for (const Row& row : summary.devices) {
    if (NeedsAPerson(row.standing) != problems) continue;
    const trail::Line& line = row.line;
    table += Cells({line.computer, Title(summary, row.standing), Time(line.time), line.identity,
                    line.path, line.versionBefore, line.versionAfter, Word(line.state),
                    Word(line.result), line.reason, row.flagged});
    ++rows;
  }
  return rows == 0 ? "<p>None.</p>\n" : table + "</table>\n";
}

// The verdict of a station unit.
std::string_view Verdict(Class standing) {
  if (standing == Class::Done) return "PASS";
  return NeedsAPerson(standing) ? "FAIL" : "open";
}

std::string Stations(const FleetSummary& summary) {
  std::string page;
  for (std::size_t first = 0; first < summary.units.size();) {
    const trail::Line& run = summary.units[first].line;
    std::size_t end = first;
    std::size_t passed = 0, failed = 0;
    while (end < summary.units.size() && summary.units[end].line.station == run.station &&
           summary.units[end].line.run == run.run) {
      const std::string_view verdict = Verdict(summary.units[end].standing);
      passed += verdict == "PASS" ? 1 : 0;
      failed += verdict == "FAIL" ? 1 : 0;
      ++end;
    }
    page += "<h3>" + Html(run.station) + ", run " + Html(run.run) + " on " + Html(run.computer) +
            ": " + Number(end - first) + " units, " + Number(passed) + " passed, " +
            Number(failed) + " failed</h3>\n<table>\n" +
            Cells({"Unit", "Identity", "Verdict", "Time", "Device identity", "Firmware after",
                   "Why", "Doubt"},
                  "th");
    for (std::size_t i = first; i < end; ++i) {
      const Row& row = summary.units[i];
      const trail::Line& line = row.line;
      page += Cells({Optional(line.sequence), line.unit, Verdict(row.standing), Time(line.time),
                     line.identity, line.versionAfter, line.reason, row.flagged});
    }
    page += "</table>\n";
    first = end;
  }
  return page;
}

void CsvRow(std::string& csv, std::initializer_list<std::string_view> fields) {
  bool first = true;
  for (const std::string_view field : fields) {
    if (!first) csv += ',';
    csv += Csv(field);
    first = false;
  }
  csv += "\r\n";
}

void CsvLine(std::string& csv, std::string_view standing, bool needsPerson, const Row& row) {
  const trail::Line& line = row.line;
  CsvRow(csv, {line.computer,
               standing,
               needsPerson ? "yes" : "no",
               Time(line.time),
               Word(line.program),
               line.version,
               Word(line.command),
               line.user,
               line.station,
               line.run,
               Optional(line.sequence),
               line.unit,
               line.identity,
               line.path,
               line.versionBefore,
               line.versionAfter,
               Word(line.state),
               Word(line.check),
               Word(line.result),
               Optional(line.exitCode),
               line.reason,
               line.warning,
               row.flagged});
}

}  // namespace

std::string FleetCsv(const FleetSummary& summary) {
  using trail::Key;
  using trail::KeyOf;
  // The byte order mark tells spreadsheets the table is UTF-8, as identities may not be ASCII.
  std::string csv = "\xEF\xBB\xBF";
  CsvRow(csv, {KeyOf(Key::Computer),
               "standing",
               "needsPerson",
               KeyOf(Key::Time),
               KeyOf(Key::Program),
               KeyOf(Key::Version),
               KeyOf(Key::Command),
               KeyOf(Key::User),
               KeyOf(Key::Station),
               KeyOf(Key::Run),
               KeyOf(Key::Sequence),
               KeyOf(Key::Unit),
               KeyOf(Key::Identity),
               KeyOf(Key::Path),
               KeyOf(Key::VersionBefore),
               KeyOf(Key::VersionAfter),
               KeyOf(Key::State),
               KeyOf(Key::Check),
               KeyOf(Key::Result),
               KeyOf(Key::ExitCode),
               KeyOf(Key::Reason),
               KeyOf(Key::Warning),
               "flagged"});
  for (const Row& row : summary.devices) {
    CsvLine(csv, trail::WordOf(RowOf(row.standing).word), NeedsAPerson(row.standing), row);
  }
  for (const std::string& computer : summary.noDevice) {
    Row row;
    row.line.computer = computer;
    row.line.state = trail::State::NoDevice;
    CsvLine(csv, "", false, row);
  }
  for (const Row& row : summary.units) {
    CsvLine(csv, trail::WordOf(RowOf(row.standing).word), NeedsAPerson(row.standing), row);
  }
  return csv;
}

std::string FleetPage(const FleetSummary& summary) {
  std::size_t problems = 0;
  for (const Row& row : summary.devices) problems += NeedsAPerson(row.standing) ? 1 : 0;
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Flashwright fleet report</title>\n" +
      std::string(Style) + "</head>\n<body>\n<h1>Flashwright fleet report</h1>\n<p>" +
      Number(summary.devices.size()) + " devices on " + Number(summary.computers) + " PCs (" +
      Number(summary.noDevice.size()) + " with no device), " + Number(problems) +
      " needing a person; " + Number(summary.units.size()) + " station units. " +
      Number(summary.lines) + " log lines from " + Number(summary.files) +
      " files; the newest line is of " + Html(Time(summary.newest)) + ".</p>\n";
  const std::size_t skipped =
      summary.tooLong + summary.unreadable + summary.badTime + summary.ahead;
  page += "<p" + std::string(skipped > 0 ? " class=\"skipped\"" : "") +
          ">Skipped lines: " + Number(summary.tooLong) + " too long, " +
          Number(summary.unreadable) + " not readable, " + Number(summary.badTime) +
          " without a valid time, " + Number(summary.ahead) + " dated more than a day ahead.</p>\n";
  if (summary.foreign > 0) {
    const bool one = summary.foreign == 1;
    page += "<p class=\"flag\">" + Number(summary.foreign) + (one ? " line names" : " lines name") +
            " another PC than the file or folder " + (one ? "it was" : "they were") +
            " read from; the rows " + (one ? "it gives" : "they give") + " are marked.</p>\n";
  }
  const std::size_t dropped =
      summary.computersDropped + summary.devicesDropped + summary.unitsDropped;
  if (dropped > 0) {
    page += "<p class=\"skipped\">The report holds " + Number(summary.limits.computers) + " PCs, " +
            Number(summary.limits.devices) + " devices and " + Number(summary.limits.units) +
            " station units: " + Number(dropped) + " lines beyond them were left out.</p>\n";
  }
  if (!summary.notRead.empty()) {
    page += "<p class=\"skipped\">Not read whole:</p>\n<ul>\n";
    for (const auto& [path, why] : summary.notRead) {
      page += "<li>" + Html(path) + ": " + Html(why) + "</li>\n";
    }
    page += "</ul>\n";
  }

  page += "<h2>Devices by where they stand</h2>\n" + Chart(summary);
  page += "<h2>Needs a person</h2>\n" + DeviceTable(summary, true);
  page += "<h2>The other devices</h2>\n" + DeviceTable(summary, false);
  if (!summary.noDevice.empty()) {
    page += "<h2>PCs with no device</h2>\n<p>";
    for (std::size_t i = 0; i < summary.noDevice.size(); ++i) {
      page += (i == 0 ? "" : ", ") + Html(summary.noDevice[i]);
    }
    page += "</p>\n";
  }
  if (!summary.units.empty()) page += "<h2>Stations</h2>\n" + Stations(summary);

  const std::size_t failures = summary.failures.size() + summary.olderFailures;
  page += "<details>\n<summary>History: " + Number(failures) + " failures, newest first" +
          (summary.olderFailures > 0 ? " (the newest " + Number(summary.failures.size()) + " kept)"
                                     : std::string()) +
          "</summary>\n";
  if (summary.failures.empty()) page += "<p>None.</p>\n";
  if (!summary.failures.empty()) {
    page += "<table>\n" + Cells({"Time", "Computer", "Device identity", "Unit", "State", "Check",
                                 "Result", "Reason", "Doubt"},
                                "th");
    for (const Row& row : summary.failures) {
      const trail::Line& line = row.line;
      page += Cells({Time(line.time), line.computer, line.identity, line.unit, Word(line.state),
                     Word(line.check), Word(line.result), line.reason, row.flagged});
    }
    page += "</table>\n";
  }
  return page + "</details>\n</body>\n</html>\n";
}

}  // namespace cli
