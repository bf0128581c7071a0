// The simulator DLL's export lists must name exactly the entry points the program binds, so that
// binding the simulator succeeds and tests of a missing one mean it. The build writes them from
// the text of FLASHWRIGHT_ENTRY_POINTS (sim/CMakeLists.txt); they must say what the compiler
// makes of the same list. (The linker refuses to export a name the DLL does not define, so the
// list's stubs and forwarders cover every exported name.)
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

// Every entry point of the list, once each and in its order: the CALLED and UNCALLED names.
std::vector<std::string> ListedEntryPoints() {
#define SIM_LISTED(name, ret, params) #name,
  return {FLASHWRIGHT_ENTRY_POINTS(SIM_LISTED, SIM_LISTED, FLASHWRIGHT_SKIP_ENTRY_POINT)};
#undef SIM_LISTED
}

TEST(SimExports, DefFileExportsExactlyTheBoundNames) {
  const std::vector<std::string> exported = ReadDefExports(FLASHWRIGHT_SIM_DEF_FILE);
  const std::set<std::string> exportedSet(exported.begin(), exported.end());
  EXPECT_EQ(exported.size(), exportedSet.size()) << "a name is exported twice";

  const std::set<std::string> bound(updatelib::LookupOrder.begin(), updatelib::LookupOrder.end());
  EXPECT_EQ(bound.size(), 89u);
  EXPECT_EQ(exportedSet, bound);
  EXPECT_EQ(exported, ListedEntryPoints());
  ASSERT_FALSE(exported.empty());
  EXPECT_EQ(exported.back(), "ZR_SetZRKeepLast4KFileCopyNVRamchk");

  // The missing-last variant: the same list without its last name.
  std::vector<std::string> allButLast = exported;
  allButLast.pop_back();
  EXPECT_EQ(ReadDefExports(FLASHWRIGHT_SIM_MISSING_LAST_DEF_FILE), allButLast);
}

}  // namespace
