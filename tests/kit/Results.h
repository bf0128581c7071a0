// The kit's results: GoogleTest's XML reports read, merged into one JUnit file, and counted for the
// summary. Portable (no <windows.h>); the runner (KitRunner.cpp) feeds it one report per program.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kit {

// One XML element as GoogleTest writes it: attributes in their order, child elements, and the
// text (character data and CDATA) directly inside it.
struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<XmlElement> children;
  std::string text;

  std::string Attribute(const std::string& key) const;
  void SetAttribute(const std::string& key, const std::string& value);
};

// The document element of `xml`, or false with `error` set when it is not well-formed XML (as far
// as GoogleTest's reports go: elements, attributes, text, CDATA, comments, the declaration).
bool ParseXml(const std::string& xml, XmlElement& root, std::string& error);
// `element` and everything in it, escaped; a declaration when `declaration` is set.
std::string WriteXml(const XmlElement& element, bool declaration);

struct Failure {
  std::string test;  // "program.Suite.Test"
  std::string message;
};

struct Counts {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  std::map<std::string, int> skipReasons;  // the skip's own words -> how many
  std::vector<Failure> failures;
};

class Results {
 public:
  // Adds the report of one program run. `label` names the run in the merged file
  // ("unit_tests", "windows_tests.standard-user"); its suites become "label.Suite". When
  // `report` is empty or unreadable, or the program's exit code says it failed while the report
  // holds no failure, a failed test "label.(program)" says so with `exitCode` and `log`.
  void Add(const std::string& label, const std::string& report, long exitCode,
           const std::string& log);
  // A test that did not run for a reason of the kit's own, e.g. the standard user's part under
  // Wine, reported as skipped with `reason`.
  void AddSkipped(const std::string& label, const std::string& test, const std::string& reason);

  const Counts& Count() const { return counts_; }
  // One <testsuites> holding every suite added, with the totals.
  std::string JUnit() const;

 private:
  void CountSuite(const std::string& label, const XmlElement& suite);
  std::vector<XmlElement> suites_;
  Counts counts_;
};

// The reason a test skipped, from GoogleTest's message "file:line\nreason...": the reason's first
// line, without the location.
std::string SkipReason(const std::string& message);

}  // namespace kit
