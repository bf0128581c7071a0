// The fleet's summary written out: a CSV table for spreadsheets and an HTML page for people, both
// made of text read from logs that anyone could have written to, so nothing in them is trusted.
// See FleetReport.h.
#include <algorithm>
#include <string>

#include "cli/FleetReport.h"

namespace cli {
namespace {

// The failures the page lists, newest first; the rest are counted.
constexpr std::size_t ShownFailures = 500;

// Text for the page: markup characters as references, and control characters (which have no
// business in a page and may hide text) as U+FFFD. The text is UTF-8 already.
std::string Html(std::string_view text) {
  if (text.empty()) return "&#8212;";
  std::string escaped;
  for (const char c : text) {
    switch (c) {
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
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          escaped += "\xEF\xBF\xBD";
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

// A CSV field (RFC 4180): quoted when it holds a comma, a quote or a line break, quotes doubled.
// A field a spreadsheet would take for a formula (starting with = + - @, or a tab or carriage
// return before one) gets a leading apostrophe, so that opening the table runs nothing.
std::string Csv(std::string_view text) {
  std::string field(text);
  if (!field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string::npos) {
    field.insert(0, 1, '\'');
  }
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

std::string Number(std::size_t count) { return std::to_string(count); }

std::string ExitCodeText(const LogLine& line) {
  return line.exitCode ? std::to_string(*line.exitCode) : std::string();
}

std::string_view ToneName(Tone tone) {
  switch (tone) {
    case Tone::Good:
      return "good";
    case Tone::Waiting:
      return "waiting";
    case Tone::Bad:
      return "bad";
    case Tone::Other:
      break;
  }
  return "other";
}

constexpr std::string_view Style = R"(<style>
body { font: 14px/1.4 system-ui, "Segoe UI", sans-serif; margin: 24px; color: #1b1b1b; }
h1 { font-size: 22px; margin: 0 0 8px; } h2 { font-size: 17px; margin: 28px 0 8px; }
table { border-collapse: collapse; } th { background: #f3f3f3; }
th, td { padding: 4px 10px; text-align: left; border-bottom: 1px solid #ddd; vertical-align: top;
  white-space: nowrap; } td:last-child { white-space: normal; }
.skipped { color: #c62828; font-weight: 600; }
.good { fill: #2e7d32; } .waiting { fill: #e0a100; } .bad { fill: #c62828; }
.other { fill: #757575; } svg text { font: 13px system-ui, "Segoe UI", sans-serif; fill: #1b1b1b; }
</style>
)";

// Appends each of `parts` to `text`.
template <class... Parts>
void Append(std::string& text, const Parts&... parts) {
  (text.append(std::string_view(parts)), ...);
}

// Counts per outcome as horizontal bars: a label, the bar, the count.
std::string Chart(const FleetSummary& summary) {
  constexpr int Label = 170, Longest = 380, Row = 28, Bar = 20;
  std::size_t most = 1;
  for (const auto& [outcome, count] : summary.outcomes) most = std::max(most, count);
  const int height = static_cast<int>(summary.outcomes.size()) * Row + 4;
  std::string svg;
  Append(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"",
         std::to_string(Label + Longest + 80), "\" height=\"", std::to_string(height),
         "\" role=\"img\" aria-label=\"PCs per outcome\">\n");
  int y = 2;
  for (const auto& [outcome, count] : summary.outcomes) {
    const int width = std::max(2, static_cast<int>(count * Longest / most));
    const std::string middle = std::to_string(y + Bar / 2 + 5);
    Append(svg, "<text x=\"", std::to_string(Label - 8), "\" y=\"", middle,
           "\" text-anchor=\"end\">", Html(outcome), "</text><rect class=\"",
           ToneName(ToneOf(outcome)), "\" x=\"", std::to_string(Label), "\" y=\"",
           std::to_string(y), "\" width=\"", std::to_string(width), "\" height=\"",
           std::to_string(Bar), "\"/><text x=\"", std::to_string(Label + width + 6), "\" y=\"",
           middle, "\">", Number(count), "</text>\n");
    y += Row;
  }
  return svg + "</svg>\n";
}

std::string Cells(std::initializer_list<std::string_view> cells, std::string_view tag = "td") {
  std::string row = "<tr>";
  for (const std::string_view cell : cells) Append(row, "<", tag, ">", Html(cell), "</", tag, ">");
  return row + "</tr>\n";
}

}  // namespace

std::string FleetCsv(const FleetSummary& summary) {
  // The byte order mark tells spreadsheets the table is UTF-8, as identities may not be ASCII.
  std::string csv =
      "\xEF\xBB\xBF"
      "computer,time,program,version,command,user,station,identity,path,versionBefore,"
      "versionAfter,state,check,result,exitCode,reason,warning\r\n";
  for (const LogLine& line : summary.latest) {
    bool first = true;
    for (const std::string& field :
         {line.computer, line.time, line.program, line.version, line.command, line.user,
          line.station, line.identity, line.path, line.versionBefore, line.versionAfter, line.state,
          line.check, line.result, ExitCodeText(line), line.reason, line.warning}) {
      if (!first) csv += ',';
      csv += Csv(field);
      first = false;
    }
    csv += "\r\n";
  }
  return csv;
}

std::string FleetPage(const FleetSummary& summary) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>Flashwright fleet report</title>\n" +
      std::string(Style) + "</head>\n<body>\n<h1>Flashwright fleet report</h1>\n<p>" +
      Number(summary.latest.size()) + " PCs, " + Number(summary.lines) + " log lines from " +
      Number(summary.files) + " files; the newest line is of " + Html(summary.newest) + ".</p>\n";
  const bool one = summary.unreadable == 1;
  page += "<p" + std::string(summary.unreadable > 0 ? " class=\"skipped\"" : "") + ">" +
          Number(summary.unreadable) + (one ? " line" : " lines") + " could not be read and " +
          (one ? "was" : "were") + " skipped.</p>\n";
  if (!summary.notRead.empty()) {
    page += "<p class=\"skipped\">Not read:</p>\n<ul>\n";
    for (const auto& [path, why] : summary.notRead) {
      page += "<li>" + Html(path) + ": " + Html(why) + "</li>\n";
    }
    page += "</ul>\n";
  }

  page += "<h2>PCs by their latest outcome</h2>\n" + Chart(summary);

  page += "<h2>The latest line of each PC</h2>\n<table>\n" +
          Cells({"Computer", "Time", "Program", "Version", "Device identity", "State", "Result",
                 "Exit code"},
                "th");
  for (const LogLine& line : summary.latest) {
    page += Cells({line.computer, line.time, line.program, line.version, line.identity, line.state,
                   line.result, ExitCodeText(line)});
  }
  page += "</table>\n";

  page += "<h2>Failures, newest first</h2>\n";
  if (summary.failures.empty()) page += "<p>None.</p>\n";
  if (!summary.failures.empty()) {
    page +=
        "<table>\n" +
        Cells({"Time", "Computer", "Device identity", "State", "Check", "Result", "Reason"}, "th");
    const std::size_t shown = std::min(summary.failures.size(), ShownFailures);
    for (std::size_t i = 0; i < shown; ++i) {
      const LogLine& line = summary.failures[i];
      page += Cells({line.time, line.computer, line.identity, line.state, line.check, line.result,
                     line.reason});
    }
    page += "</table>\n";
    if (shown < summary.failures.size()) {
      page += "<p>And " + Number(summary.failures.size() - shown) + " older failures.</p>\n";
    }
  }
  return page + "</body>\n</html>\n";
}

}  // namespace cli
