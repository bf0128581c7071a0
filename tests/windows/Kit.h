// What the Windows-only tests share: where the kit keeps its files, and the skips that say why a
// test cannot answer here.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

namespace kit {

// Whether the tests run under Wine rather than Windows (ntdll exports wine_get_version).
bool UnderWine();
// Whether the process runs with an administrator's full token.
bool RunsElevated();

// The kit's folders: the programs, the simulator and the test programs (this program's own
// folder); the files the tests were given at build time (certificates, signed copies); the
// Windows Installer packages.
std::filesystem::path ProgramsDir();
std::filesystem::path FixturesDir();
std::filesystem::path PackagesDir();

}  // namespace kit

// Skips the current test under Wine, naming what only Windows has, e.g.
// NEEDS_WINDOWS("private namespaces"); counted by the kit's summary by that reason.
#define NEEDS_WINDOWS(what)                                         \
  do {                                                              \
    if (::kit::UnderWine()) GTEST_SKIP() << "needs Windows: " what; \
  } while (false)

// Tests about what a user cannot do live in suites named StandardUser*: the kit's runner runs
// them as a temporary standard user. Run by an administrator, they skip and say so.
#define NEEDS_STANDARD_USER()                                                    \
  do {                                                                           \
    NEEDS_WINDOWS("a standard user account");                                    \
    if (::kit::RunsElevated())                                                   \
      GTEST_SKIP() << "needs a standard user: the runner runs this part as one"; \
  } while (false)
