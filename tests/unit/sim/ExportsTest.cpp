// The simulator DLL's export list (ZRFWUpdateDll.def) must name exactly the entry points the
// program binds, so that binding the simulator succeeds and tests of a missing one mean it.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "updatelib/EntryPoints.h"

namespace {

std::vector<std::string> ReadDefExports(const std::string& fileName) {
  std::ifstream in(fileName);
  std::vector<std::string> names;
  bool inExports = false;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word[0] == ';') continue;
    if (word == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      names.push_back(word);
    }
  }
  return names;
}

TEST(SimExports, DefFileExportsExactlyTheBoundNames) {
  const std::vector<std::string> exported = ReadDefExports(FLASHWRIGHT_SIM_DEF_FILE);
  const std::set<std::string> exportedSet(exported.begin(), exported.end());
  EXPECT_EQ(exported.size(), exportedSet.size()) << "a name is exported twice";

  const std::set<std::string> bound(updatelib::LookupOrder.begin(), updatelib::LookupOrder.end());
  EXPECT_EQ(bound.size(), 89u);
  EXPECT_EQ(exportedSet, bound);
  // The missing-last variant is made by dropping this line.
  ASSERT_FALSE(exported.empty());
  EXPECT_EQ(exported.back(), "ZR_SetZRKeepLast4KFileCopyNVRamchk");
}

}  // namespace
