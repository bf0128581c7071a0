// The Windows test kit's results: what each program's GoogleTest report (or its absence) counts
// as. A program that crashed or wrote nothing must be a failure, never a gap in a passing run.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/kit/Results.h"

namespace {

std::string Report(const std::string& cases) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites tests=\"9\" name=\"AllTests\">\n"
         "  <testsuite name=\"S\" tests=\"9\">\n" +
         cases + "  </testsuite>\n</testsuites>\n";
}

TEST(KitResults, CountEachReportAndEachProgramThatFailedWithoutOne) {
  const std::string pass =
      "<testcase name=\"A\" status=\"run\" result=\"completed\" classname=\"S\"/>\n";
  const std::string fail =
      "<testcase name=\"B\" status=\"run\" result=\"completed\" classname=\"S\">\n"
      "<failure message=\"x.cpp:3&#x0A;Expected &lt;1&gt;\" type=\"\"><![CDATA[x.cpp:3\nExpected "
      "<1> & more]]></failure></testcase>\n";
  const std::string skip =
      "<testcase name=\"C\" status=\"run\" result=\"skipped\" classname=\"S\">\n"
      "<skipped message=\"tests/windows/N.cpp:12&#x0A;needs Windows: private namespaces\">"
      "<![CDATA[...]]></skipped></testcase>\n";
  const std::string filteredOut =
      "<testcase name=\"D\" status=\"notrun\" result=\"suppressed\"/>\n";
  const struct {
    const char* what;
    std::string report;
    long exitCode;
    int passed, failed, skipped;
    std::map<std::string, int> reasons;
    std::string firstFailure;
  } cases[] = {
      {"all kinds",
       Report(pass + fail + skip + skip + filteredOut),
       1,
       1,
       1,
       2,
       {{"needs Windows: private namespaces", 2}},
       "x.cpp:3\nExpected <1> & more"},
      {"a clean run",
       Report(pass + skip),
       0,
       1,
       0,
       1,
       {{"needs Windows: private namespaces", 1}},
       ""},
      {"no report (a crash)", "", -1073741819, 0, 1, 0, {}, "p wrote no report"},
      {"a report cut off",
       Report(pass).substr(0, 120),
       3,
       0,
       1,
       0,
       {},
       "p wrote a report that cannot"},
      {"a report that hides a failed exit",
       Report(pass),
       3,
       1,
       1,
       0,
       {},
       "p reported no failure but ended with exit code 3"},
      {"not GoogleTest's", "<html/>", 0, 0, 1, 0, {}, "p wrote a report without"},
  };
  for (const auto& c : cases) {
    kit::Results results;
    results.Add("p", c.report, c.exitCode, "raw/p.log");
    const kit::Counts& counts = results.Count();
    EXPECT_EQ(counts.passed, c.passed) << c.what;
    EXPECT_EQ(counts.failed, c.failed) << c.what;
    EXPECT_EQ(counts.skipped, c.skipped) << c.what;
    EXPECT_EQ(counts.skipReasons, c.reasons) << c.what;
    if (!c.firstFailure.empty()) {
      ASSERT_FALSE(counts.failures.empty()) << c.what;
      EXPECT_EQ(counts.failures[0].message.rfind(c.firstFailure, 0), 0u)
          << c.what << ": " << counts.failures[0].message;
    }
    // The merged file reads back with the same totals.
    kit::XmlElement merged;
    std::string error;
    ASSERT_TRUE(kit::ParseXml(results.JUnit(), merged, error)) << c.what << ": " << error;
    EXPECT_EQ(merged.Attribute("tests"), std::to_string(c.passed + c.failed + c.skipped)) << c.what;
    EXPECT_EQ(merged.Attribute("failures"), std::to_string(c.failed)) << c.what;
  }
}

}  // namespace
