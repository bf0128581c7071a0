// End-to-end tests of where the programs write under Wine: a log named with --log that is a link,
// lies behind a folder link or has a second name is refused and nothing is written through it;
// the recorder records only in a data folder no one else may change, under a name no one can
// guess, never through a link, and the library's calls go on when it cannot. The links come from
// the Unix side (make-links.sh, a CTest fixture). Owners and access lists Wine cannot show are
// tried in the unit tests (FolderTrustTest.cpp).
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h: security descriptors from their text form.
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness/Driver.h"
#include "platform/win32/AppendOnlyLog.h"

namespace e2e {
namespace {

// The exit codes the runs here end with.
constexpr DWORD UpdateRequired = 10;
constexpr DWORD NothingDone = 1;
constexpr DWORD Updated = 3010;
constexpr Millis RunTimeout = 30s;

namespace fs = std::filesystem;

constexpr char CliName[] = "flashwright-cli.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr char RecorderName[] = "flashwright-recorder.dll";

fs::path BinDir() { return ExecutableDir(); }
fs::path Links() { return BinDir().parent_path() / "link-fixture"; }
fs::path Elsewhere() { return Links() / "elsewhere"; }

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path DataFolder() {
  wchar_t data[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  return fs::path(data) / "Flashwright";
}

std::vector<fs::path> FilesIn(const fs::path& folder, const std::string& extension) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == extension) files.push_back(entry.path());
  }
  return files;
}

// One device that needs its update; the programs run from a folder with the simulator as the
// library, and from one with the recorder in front of the simulator. The data folder of the
// Wine prefix is set aside for the test and put back after it.
class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(Links() / "folder-link")) << "make-links.sh did not run";
    dir_.CopyIn(BinDir() / CliName);
    dir_.CopyIn(BinDir() / LibraryName);
    fs::create_directories(Recorded());
    fs::copy_file(BinDir() / CliName, Recorded() / CliName);
    fs::copy_file(BinDir().parent_path() / "variants" / "recorder" / RecorderName,
                  Recorded() / RecorderName);
    fs::copy_file(BinDir() / LibraryName, Recorded() / LibraryName);
    std::ofstream(dir_.Path() / "world.ini", std::ios::binary) << "[device]\n";
    saved_ = fs::exists(DataFolder());
    if (saved_) {
      ASSERT_TRUE(MoveFileW(DataFolder().c_str(), Saved().c_str()));
    }
    ASSERT_EQ(Cli(Recorded(), "support record on"), 0u) << Describe();
  }
  void TearDown() override {
    Cli(Recorded(), "support record off");
    std::error_code error;
    // Never removed while it holds the link: that would remove the far end's files.
    if (linked_ && !MoveFileW(DataFolder().c_str(), LinkedDataFolder().c_str())) return;
    fs::remove_all(DataFolder(), error);
    if (saved_) MoveFileW(Saved().c_str(), DataFolder().c_str());
  }

  fs::path LinkedDataFolder() const { return Links() / "data" / "Flashwright"; }
  fs::path Recorded() const { return dir_.Path() / "recorded"; }
  fs::path Saved() const { return DataFolder().parent_path() / "Flashwright-set-aside"; }
  fs::path Recordings() const { return DataFolder() / "recordings"; }
  fs::path ErrFile() const { return dir_.Path() / "err.txt"; }
  std::string Describe() const { return "stderr:\n" + ReadFile(ErrFile()); }

  DWORD Cli(const fs::path& folder, const std::string& args) {
    Process program =
        Process::Launch(folder / CliName, folder,
                        {{"FLASHWRIGHT_SIM_SCENARIO", (dir_.Path() / "world.ini").string()},
                         {"FLASHWRIGHT_RECORDING", ""}},
                        args, {dir_.Path() / "out.txt", ErrFile()});
    return program.WaitForExit(RunTimeout).value_or(0xDEAD);
  }

  TempDir dir_{"data"};
  bool saved_ = false;
  bool linked_ = false;
};

TEST_F(DataFolderTest, ALogThatIsALinkOrHasASecondNameIsRefusedAndNothingWritesThroughIt) {
  const fs::path someoneElses = dir_.Path() / "someone-elses.txt";
  std::ofstream(someoneElses, std::ios::binary) << "not a log\n";
  const fs::path twoNames = dir_.Path() / "two-names.log";
  ASSERT_TRUE(CreateHardLinkW(twoNames.c_str(), someoneElses.c_str(), nullptr));
  const struct {
    const char* name;
    fs::path log;
    const char* reason;
    fs::path victim;
  } cases[] = {
      {"a second name of another file", twoNames, "under 2 names (hard links)", someoneElses},
      {"a link to another file", Links() / "file-link.log", "a link is not followed",
       Elsewhere() / "victim.txt"},
      {"a new file behind a folder link", Links() / "folder-link" / "new.log",
       "a link is not followed", Elsewhere() / "victim.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Cli(dir_.Path(), "update --log \"" + c.log.string() + "\""), NothingDone)
        << Describe();
    const std::string errors = ReadFile(ErrFile());
    EXPECT_NE(errors.find("cannot write the log"), std::string::npos) << errors;
    EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
    EXPECT_EQ(ReadFile(c.victim), "not a log\n");
    EXPECT_FALSE(fs::exists(Elsewhere() / "new.log"));
  }
  // The same log under its one name takes the line.
  const fs::path own = dir_.Path() / "own.log";
  EXPECT_EQ(Cli(dir_.Path(), "update --log \"" + own.string() + "\""), Updated) << Describe();
  EXPECT_NE(ReadFile(own).find("\"updated\""), std::string::npos) << ReadFile(own);
}

TEST_F(DataFolderTest, TheRecorderWritesOnlyInAFolderOfItsOwnUnderANameNoOneCanGuess) {
  // Made by the recorder: trusted, and the recording has a fresh name of time and 64 random bits.
  ASSERT_EQ(Cli(Recorded(), "status"), UpdateRequired) << Describe();
  const std::vector<fs::path> made = FilesIn(Recordings(), ".fwrec");
  ASSERT_EQ(made.size(), 1u);
  EXPECT_TRUE(std::regex_match(made[0].filename().string(),
                               std::regex(R"(\d{8}T\d{6}Z-[0-9a-f]{16}\.fwrec)")))
      << made[0];
  EXPECT_EQ(ReadFile(made[0]).rfind("fwrec ", 0), 0u);

  // Planted: a data folder everyone may change. The calls go on, and nothing is made in it.
  fs::remove_all(DataFolder());
  PSECURITY_DESCRIPTOR everyone = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", 1,
                                                                   &everyone, nullptr));
  // Set after making it: Wine makes a folder with the process's umask whatever it is given.
  ASSERT_TRUE(CreateDirectoryW(DataFolder().c_str(), nullptr));
  ASSERT_TRUE(SetFileSecurityW(DataFolder().c_str(), DACL_SECURITY_INFORMATION, everyone));
  LocalFree(everyone);
  EXPECT_EQ(Cli(Recorded(), "status"), UpdateRequired) << Describe();
  EXPECT_FALSE(fs::exists(Recordings()));

  // A link in place of the recordings folder: nothing is recorded at its far end.
  // Wine's MoveFileW moves a link's far end, so the link comes inside a folder moved whole.
  fs::remove_all(DataFolder());
  ASSERT_TRUE(MoveFileW(LinkedDataFolder().c_str(), DataFolder().c_str()));
  linked_ = true;
  EXPECT_EQ(Cli(Recorded(), "status"), UpdateRequired) << Describe();
  EXPECT_TRUE(FilesIn(Elsewhere(), ".fwrec").empty());
}

// Writers on handles of their own lock one another out as processes do. Enough lines for exactly
// one rotation: every line must then be whole, once, in the log or its older file. Each writer
// waits on seven others for a hundred lines, far longer than a run waits for its few lines, so
// the wait's bound is the test's here.
TEST_F(DataFolderTest, WritersRotatingTheLogTogetherLoseAndMixNoLine) {
  constexpr int Writers = 8;
  constexpr int LinesEach = 100;
  const std::string log = (dir_.Path() / "shared.log").string();
  const std::string padding(40, '.');
  const std::uint64_t rotateAt = Writers * LinesEach * (padding.size() + 12) * 2 / 3;
  std::vector<std::thread> writers;
  std::vector<std::string> errors(Writers);
  for (int w = 0; w < Writers; ++w) {
    writers.emplace_back([&, w] {
      platform::win32::AppendOnlyLog file(std::chrono::minutes(1));
      for (int i = 0; i < LinesEach && errors[w].empty(); ++i) {
        errors[w] = file.AppendLine(log, std::to_string(w * 1000 + i) + padding, rotateAt);
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  for (const std::string& error : errors) EXPECT_EQ(error, "");
  const std::string older = ReadFile(log + ".1");
  const std::string newer = ReadFile(log);
  EXPECT_GE(older.size(), rotateAt);
  EXPECT_LT(newer.size(), rotateAt);
  std::set<std::string> seen;
  std::istringstream lines(older + newer);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.size() > padding.size() &&
                line.compare(line.size() - padding.size(), padding.size(), padding) == 0)
        << line;
    EXPECT_TRUE(seen.insert(line).second) << "twice: " << line;
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(Writers * LinesEach));
}

}  // namespace
}  // namespace e2e
