// End-to-end tests of flashwright-cli.exe under Wine with the simulator: its exit codes (read from
// the Windows process, all 32 bits), its JSON output (kept for the schema check), --all, the
// station loop driven by usbsim, the machine-wide lock, text outside ASCII in every command, the
// code page conversion with the system's own tables, detect started as a detection script
// starts it, and the machine's summary in the registry. (Wine 8 delivers no console control event
// to another process group, so Ctrl+C is checked in the unit tests.)
#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "harness/Driver.h"
#include "harness/Simulator.h"
#include "platform/win32/ProgrammingLock.h"
#include "platform/win32/Text.h"

namespace e2e {
namespace {

constexpr char CliName[] = "flashwright-cli.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr Millis RunTimeout = 30s;
constexpr Millis StepTimeout = 15s;

std::filesystem::path BinDir() { return ExecutableDir(); }

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of `log` as JSON.
std::vector<nlohmann::json> LogLines(const std::string& log) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.CopyIn(BinDir() / CliName);
    dir_.CopyIn(BinDir() / LibraryName);
  }

  std::filesystem::path World() const { return dir_.Path() / "world.ini"; }
  void WriteWorld(const std::string& text) {
    std::ofstream(World(), std::ios::binary | std::ios::trunc) << text;
  }
  bool Usbsim(const std::string& args, bool announce = true) {
    const auto code = RunUsbsim(BinDir(), World(), args, announce);
    return code && *code == 0;
  }

  // Starts the program with `args`, its output in files of this test's directory (and its
  // standard input from `input`, if given).
  Process Start(const std::string& args, const std::filesystem::path& input = {}) {
    ++runs_;
    return Process::Launch(dir_.Path() / CliName, dir_.Path(),
                           {{"FLASHWRIGHT_SIM_SCENARIO", World().string()},
                            {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()}},
                           args, {OutFile(), ErrFile()}, input);
  }
  std::filesystem::path OutFile() const {
    return dir_.Path() / ("out" + std::to_string(runs_) + ".txt");
  }
  std::filesystem::path ErrFile() const {
    return dir_.Path() / ("err" + std::to_string(runs_) + ".txt");
  }
  std::string Out() const { return ReadFile(OutFile()); }
  std::string Err() const { return ReadFile(ErrFile()); }

  // Runs the program to its end and returns its exit code (0xDEAD when it did not end in time).
  DWORD Cli(const std::string& args) {
    Process program = Start(args);
    const auto code = program.WaitForExit(RunTimeout);
    return code.value_or(0xDEAD);
  }

  // Keeps the JSON the last run wrote (or `text`), for the check against the schema.
  void KeepJson(const std::string& name, const std::string& folderName = "cli-json",
                const std::optional<std::string>& text = {}) {
    const auto folder = BinDir().parent_path() / folderName;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / (name + ".json"), std::ios::binary | std::ios::trunc)
        << text.value_or(Out());
  }

  // Waits until standard error holds `text` at least `times` times.
  bool ErrShows(const std::string& text, std::size_t times = 1) {
    return WaitUntil([&] { return Occurrences(Err(), text) >= times; }, StepTimeout);
  }

  std::string Describe() const { return "stdout:\n" + Out() + "stderr:\n" + Err(); }

  TempDir dir_{"cli"};
  int runs_ = 0;
};

// Each run that looks at devices also leaves its lines in the shared log (no device included),
// checked against the log's schema once the tests have run.
TEST_F(CliTest, StatusAndUpdateExitCodes) {
  std::filesystem::remove(SharedLogFile());
  WriteWorld("[device]\nprogram-ms = 100\n");
  EXPECT_EQ(Cli("status --json"), 10u) << Describe();
  EXPECT_NE(Out().find("\"state\":\"update-required\""), std::string::npos) << Describe();
  KeepJson("status-update-required");
  EXPECT_EQ(Cli("update --json"), 3010u) << Describe();
  EXPECT_NE(Out().find("\"result\":\"updated\""), std::string::npos) << Describe();
  KeepJson("update-one");
  ASSERT_TRUE(Usbsim("power-cycle", false));
  EXPECT_EQ(Cli("status"), 0u) << Describe();
  EXPECT_NE(Out().find("up-to-date"), std::string::npos) << Describe();
  EXPECT_EQ(Cli("update --json"), 0u) << Describe();  // nothing needed doing
  KeepJson("update-up-to-date");

  WriteWorld("[device]\nchip-type = 12\n");
  EXPECT_EQ(Cli("update --json"), 5u) << Describe();
  KeepJson("update-not-updatable");
  WriteWorld("[device]\nprogram-ms = 0\nprogram-succeeds = no\n");
  EXPECT_EQ(Cli("update"), 1u) << Describe();

  WriteWorld("");
  EXPECT_EQ(Cli("status --json"), 3u) << Describe();
  KeepJson("status-no-device");
  EXPECT_EQ(Cli("update"), 3u) << Describe();

  WriteWorld("[device]\n[device]\n");
  EXPECT_EQ(Cli("update --json"), 4u) << Describe();
  KeepJson("update-several");
  EXPECT_EQ(Cli("update --device 3"), 2u) << Describe();
  EXPECT_EQ(Cli("update --device 1 --all"), 2u) << Describe();
  EXPECT_EQ(Cli("frobnicate --json"), 2u) << Describe();
  KeepJson("usage-error");
  EXPECT_EQ(Cli("--version"), 0u) << Describe();
  EXPECT_EQ(Out(), "flashwright-cli 0.1.1.7\n");
  EXPECT_EQ(Cli("--help"), 0u) << Describe();
  EXPECT_NE(Out().find("3010"), std::string::npos) << "exit codes missing from --help";

  const std::string log = ReadFile(SharedLogFile());
  KeepJson("shared-log", "cli-log", log);
  // command, state, result, exit code of each line, in order.
  std::vector<std::string> seen;
  for (const nlohmann::json& line : LogLines(log)) {
    EXPECT_EQ(line["program"], "flashwright-cli");
    EXPECT_EQ(line["version"], "0.1.1.7");
    auto text = [](const nlohmann::json& value) {
      return value.is_null() ? std::string("null") : value.dump();
    };
    seen.push_back(text(line["command"]) + " " + text(line["state"]) + " " + text(line["check"]) +
                   " " + text(line["result"]) + " " + text(line["exitCode"]));
  }
  const std::vector<std::string> expected = {
      R"("status" "update-required" "firmware-version" null 10)",
      R"("update" "update-required" "firmware-version" "updated" 3010)",
      R"("status" "up-to-date" "firmware-version" "confirmed" null)",
      R"("status" "up-to-date" "firmware-version" null 0)",
      R"("update" "up-to-date" "firmware-version" "up-to-date" 0)",
      R"("update" "unsupported-chip" "chip-type" "not-updatable" 5)",
      R"("update" "update-required" "firmware-version" "failed" 1)",
      R"("status" "no-device" null null 3)",
      R"("update" "no-device" null null 3)",
      R"("update" "error" null null 4)",
      R"("update" "error" null null 2)"};
  EXPECT_EQ(seen, expected) << log;
}

// A library that raises its own C++ exception, or overflows its stack, ends the command with
// exit code 1 and says which: every time, in a new process or in the next command alike.
TEST_F(CliTest, ALibraryThatThrowsOrOverflowsEndsTheCommandWithItsName) {
  const struct {
    const char* world;
    const char* args;
    const char* what;
  } cases[] = {
      {"[library]\nthrow = ZR_GetChipType\n[device]\n", "status",
       "ZR_GetChipType: C++ exception (E06D7363)"},
      {"[library]\nthrow = ZR_GetChipType\n[device]\n", "status --json",
       "ZR_GetChipType: C++ exception (E06D7363)"},
      {"[library]\nthrow = ZR_FWUpdateProgrammingNoCustomizedSetting\n[device]\nprogram-ms = 0\n",
       "update", "ZR_FWUpdateProgrammingNoCustomizedSetting: C++ exception (E06D7363)"},
      {"[library]\noverflow = ZR_Inquiry\n[device]\n", "status", "ZR_Inquiry: stack overflow"},
  };
  for (const auto& run : cases) {
    SCOPED_TRACE(run.args);
    WriteWorld(run.world);
    EXPECT_EQ(Cli(run.args), 1u) << Describe();
    EXPECT_NE((Out() + Err()).find(run.what), std::string::npos) << Describe();
  }
}

// detect as a detection script starts it: from the install folder by its full path while the
// working folder is another (the system agent's own), so the library must be found beside the
// program; exit code 0 every time, and standard output only when no device needs the update.
TEST_F(CliTest, DetectFromAnotherWorkingFolder) {
  const TempDir elsewhere{"agent"};
  auto detect = [&] {
    ++runs_;
    Process program = Process::Launch(dir_.Path() / CliName, elsewhere.Path(),
                                      {{"FLASHWRIGHT_SIM_SCENARIO", World().string()}}, "detect",
                                      {OutFile(), ErrFile()});
    return program.WaitForExit(RunTimeout).value_or(0xDEAD);
  };
  WriteWorld("[device]\n");
  EXPECT_EQ(detect(), 0u) << Describe();
  EXPECT_EQ(Out(), "") << Describe();
  ASSERT_TRUE(Usbsim("set 1 version=00.01.01.07", false));
  EXPECT_EQ(detect(), 0u) << Describe();
  EXPECT_EQ(Out(), "Firmware 00.01.01.07 on every attached device\n") << Describe();
  std::filesystem::remove(dir_.Path() / LibraryName);
  EXPECT_EQ(detect(), 0u) << Describe();
  EXPECT_EQ(Out(), "") << Describe();
  EXPECT_NE(Err().find("ZRFWUpdateDll.dll"), std::string::npos) << Describe();
}

using Take = platform::ProgrammingLock::Take;

TEST_F(CliTest, MissingLibraryAndAHeldLockHaveTheirOwnCodes) {
  WriteWorld("[device]\nprogram-ms = 0\n");
  {
    // Held as the programs take it.
    platform::win32::MachineProgrammingLock lock;
    ASSERT_EQ(lock.TryLock(0ms), Take::Taken);
    EXPECT_EQ(Cli("update --json"), 1618u) << Describe();
    KeepJson("update-locked");
  }
  EXPECT_EQ(ReadFile(dir_.Path() / "sim.log").find("begin"), std::string::npos)
      << "programmed while the lock was held";

  std::filesystem::remove(dir_.Path() / LibraryName);
  EXPECT_EQ(Cli("status --json"), 6u) << Describe();
  KeepJson("status-no-library");
}

// report reads a share as Windows lists it: folders and names outside ASCII, a subfolder, the
// older log beside a log, a file that is no log; it needs no library and holds no lock.
TEST_F(CliTest, ReportReadsAShareWithNamesOutsideAscii) {
  const std::filesystem::path share = dir_.Path() / std::filesystem::path(L"Z\u00FCrich-\u03A9");
  const std::filesystem::path pc = share / std::filesystem::path(L"PC-\u0141\u00F3d\u017A");
  std::filesystem::create_directories(pc / "old");
  std::ofstream(pc / "flashwright.log", std::ios::binary)
      << R"({"time":"2026-12-08T11:00:00Z","computer":"PC-\u0141","path":"usb#1","result":"verified"})"
         "\n";
  std::ofstream(pc / "old" / "flashwright.log.1", std::ios::binary)
      << R"({"time":"2026-12-01T09:00:00Z","computer":"PC-2","path":"usb#1","result":"failed","reason":"gone"})"
      << "\n{\"time\":\n";
  std::ofstream(share / "notes.txt", std::ios::binary) << "not a log\n";
  std::filesystem::remove(dir_.Path() / LibraryName);
  platform::win32::MachineProgrammingLock lock;
  ASSERT_EQ(lock.TryLock(0ms), Take::Taken);

  const std::filesystem::path csv = share / std::filesystem::path(L"r\u00E9sum\u00E9.csv");
  EXPECT_EQ(Cli("report \"" + platform::win32::WideToUtf8(share.wstring()) + "\" --csv \"" +
                platform::win32::WideToUtf8(csv.wstring()) + "\""),
            0u)
      << Describe();
  EXPECT_NE(Err().find("skipped 1 line(s)"), std::string::npos) << Describe();
  const std::string table = ReadFile(csv);
  EXPECT_NE(table.find("\r\n\"PC-\u0141\",\"done\",\"no\",\"2026-12-08T11:00:00Z\","),
            std::string::npos)
      << table;
  // Read from PC-Łódź's folder, PC-2's line is doubted.
  EXPECT_NE(table.find("\r\n\"PC-2\",\"failed\",\"yes\","), std::string::npos) << table;
  EXPECT_NE(table.find("\"names another PC than "), std::string::npos) << table;
  EXPECT_NE(ReadFile(dir_.Path() / "flashwright-report.html").find("<td>gone</td>"),
            std::string::npos);
}

// Anyone may create a mutex under the lock's global name first and keep it: such an object (under
// Wine a mutex made with default security has no owner at all) is not our lock and stops no
// update, and an object of another kind under the next name neither. Two of our programs still
// meet past them on one lock.
TEST_F(CliTest, ObjectsSquattingTheLocksNamesStopNoUpdate) {
  const std::string world = "[device]\nprogram-ms = 0\n";
  WriteWorld(world);
  const std::wstring first = platform::win32::Utf8ToWide(platform::GlobalLockName(0));
  const std::wstring second = platform::win32::Utf8ToWide(platform::GlobalLockName(1));
  platform::win32::UniqueHandle squatter(CreateMutexW(nullptr, TRUE, first.c_str()));
  ASSERT_TRUE(squatter);
  platform::win32::UniqueHandle otherKind(CreateEventW(nullptr, TRUE, FALSE, second.c_str()));
  ASSERT_TRUE(otherKind);
  EXPECT_EQ(Cli("update"), 3010u) << Describe();
  const auto programmed = [&] { return Occurrences(ReadFile(dir_.Path() / "sim.log"), "begin"); };
  EXPECT_EQ(programmed(), 1u);

  WriteWorld(world);
  platform::win32::MachineProgrammingLock ours;
  ASSERT_EQ(ours.TryLock(0ms), Take::Taken);
  ASSERT_TRUE(ours.Place().has_value());
  if (ours.Place()->route == platform::LockRoute::GlobalName) {
    EXPECT_EQ(ours.Place()->names.front(), platform::GlobalLockName(2));
    EXPECT_EQ(ours.Place()->names.size(), platform::GlobalLockCandidates - 2);
  }
  EXPECT_EQ(Cli("update"), 1618u) << Describe();
  EXPECT_EQ(programmed(), 1u) << "programmed while another program held the lock";
}

// A squatter on the lock's first name while one program starts, gone when the next starts, splits
// no lock: the first program holds every other name, and the next one, taking the first name
// too, still has to wait for all of them. Whether the squatter is an object of another kind or a
// mutex that lets no one in, the second program is busy while the first programs, and the
// device is programmed once.
TEST_F(CliTest, ASquatterThatLeavesSplitsNoLock) {
  const std::wstring first = platform::win32::Utf8ToWide(platform::GlobalLockName(0));
  PSECURITY_DESCRIPTOR denyAll = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &denyAll,
                                                                   nullptr));
  const platform::win32::UniqueLocalMemory denyAllOwner(denyAll);
  SECURITY_ATTRIBUTES denying{sizeof denying, denyAll, FALSE};
  const struct {
    const char* squatter;
    std::function<HANDLE()> squat;
  } cases[] = {
      {"an event", [&] { return CreateEventW(nullptr, TRUE, FALSE, first.c_str()); }},
      {"a mutex denying everyone", [&] { return CreateMutexW(&denying, FALSE, first.c_str()); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.squatter);
    ForgetAttemptRecords();
    std::filesystem::remove(dir_.Path() / "sim.log");
    WriteWorld("[device]\nprogram-ms = 6000\n");
    platform::win32::UniqueHandle squatter(c.squat());
    ASSERT_TRUE(squatter);
    CallLog calls(dir_.Path() / "sim.log");
    calls.Refresh();
    const std::size_t from = calls.Size();
    Process programming = Start("update");
    ASSERT_TRUE(calls.WaitFor(
        [](const std::string& line) {
          return line.starts_with("ZR_FWUpdateProgrammingNoCustomizedSetting ") &&
                 line.find(" begin ") != std::string::npos;
        },
        from, RunTimeout))
        << calls.Dump();
    squatter.Reset();
    {
      platform::win32::MachineProgrammingLock next;
      EXPECT_EQ(next.TryLock(0ms), Take::Busy) << "the lock was split";
      if (next.Place() && next.Place()->route == platform::LockRoute::GlobalName) {
        EXPECT_EQ(next.Place()->names.front(), platform::GlobalLockName(0));
      }
    }
    EXPECT_EQ(Cli("update"), 1618u) << Describe();
    EXPECT_EQ(programming.WaitForExit(RunTimeout), 3010u);
    EXPECT_EQ(Occurrences(ReadFile(dir_.Path() / "sim.log"), " begin "), 1u);
  }
}

// A program that ends while holding the lock (killed while programming, say) leaves it abandoned,
// and the next update programs as usual, saying so. The test keeps the mutex open meanwhile, so it
// outlives each holder as it does while any other of our programs runs.
TEST_F(CliTest, ALockAbandonedByADeadProgramStopsNoUpdate) {
  WriteWorld("[device]\nprogram-ms = 0\n");
  platform::win32::MachineProgrammingLock keeper;
  ASSERT_EQ(keeper.TryLock(0ms), Take::Taken);
  keeper.Unlock();
  dir_.CopyIn(BinDir() / "lock-holder.exe");
  auto holder = [&] {
    Process program = Process::Launch(dir_.Path() / "lock-holder.exe", dir_.Path());
    return program.WaitForExit(RunTimeout).value_or(0xDEAD);
  };
  EXPECT_EQ(holder(), static_cast<DWORD>(Take::Taken));
  EXPECT_EQ(holder(), static_cast<DWORD>(Take::Abandoned)) << "the first holder's end went unseen";
  EXPECT_EQ(Cli("update"), 3010u) << Describe();
  EXPECT_NE(Err().find("a Flashwright program ended while it held the programming lock"),
            std::string::npos)
      << Describe();
  EXPECT_EQ(Occurrences(ReadFile(dir_.Path() / "sim.log"), "begin"), 1u);
  // The update let go of the lock it found abandoned: the next taker finds it free, not abandoned
  // again by the update's own end.
  EXPECT_EQ(holder(), static_cast<DWORD>(Take::Taken));
}

// The lock keeps its mutex open for its own life and no longer; letting go of a lock it
// does not hold is harmless, and taking it twice without letting go is busy.
TEST(ProgrammingLock, TakenAndLetGoRepeatedlyLeavesNothingOpen) {
  std::wstring name;
  {
    platform::win32::MachineProgrammingLock lock;
    lock.Unlock();
    ASSERT_EQ(lock.TryLock(0ms), Take::Taken);
    ASSERT_TRUE(lock.Place().has_value());
    if (lock.Place()->route != platform::LockRoute::GlobalName) {
      GTEST_SKIP() << "the lock lives in the private namespace";
    }
    name = platform::win32::Utf8ToWide(lock.Place()->names.front());
    for (int round = 0; round < 20; ++round) {
      EXPECT_EQ(lock.TryLock(0ms), Take::Busy);
      lock.Unlock();
      lock.Unlock();
      EXPECT_EQ(lock.TryLock(0ms), Take::Taken);
    }
  }
  // Gone with its last handle: no handle to it was left open (Wine counts no process handles, so
  // this is how a leak shows).
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// --all goes through every device in turn; the worst outcome decides, and every attempt is
// logged.
TEST_F(CliTest, AllOverThreeDevicesWithOneFailing) {
  WriteWorld(
      "[device]\nprogram-ms = 0\n[device]\nprogram-ms = 0\nprogram-succeeds = no\n"
      "[device]\nprogram-ms = 0\n");
  const auto log = dir_.Path() / "attempts.log";
  EXPECT_EQ(Cli("update --all --json --log \"" + log.string() + "\""), 1u) << Describe();
  KeepJson("update-all");
  const std::string out = Out();
  EXPECT_EQ(Occurrences(out, "\"result\":\"updated\""), 2u) << out;
  EXPECT_EQ(Occurrences(out, "\"result\":\"failed\""), 1u) << out;
  const std::string lines = ReadFile(log);
  EXPECT_EQ(Occurrences(lines, "\n"), 3u) << lines;
  EXPECT_EQ(Occurrences(lines, "\"versionBefore\":\"00.01.01.05\""), 3u) << lines;
}

// A log that cannot be kept ends update and station with 1 before anything is programmed: in a
// folder that does not exist, and on Linux's /dev/full through Wine's Z: drive, which opens like a
// file and fails every write as a full disk does.
TEST_F(CliTest, ALogThatCannotBeWrittenStopsTheWorkBeforeProgramming) {
  WriteWorld("[device]\nprogram-ms = 0\n");
  const std::string missing = (dir_.Path() / "no-such-folder" / "attempts.log").string();
  for (const std::string& log : {missing, std::string("Z:\\dev\\full")}) {
    for (const std::string command : {"update", "station --count 1"}) {
      SCOPED_TRACE(command + " --log " + log);
      // Asserted: a station that programs waits for a power cycle nobody gives.
      ASSERT_EQ(Cli(command + " --log \"" + log + "\""), 1u) << Describe();
      EXPECT_NE(Err().find("cannot write the log " + log + ", so nothing was done"),
                std::string::npos)
          << Describe();
    }
  }
  EXPECT_EQ(Cli("update --json --log \"" + missing + "\""), 1u) << Describe();
  KeepJson("update-log-unwritable");
  EXPECT_NE(Out().find("cannot write the log"), std::string::npos) << Describe();
  EXPECT_EQ(ReadFile(dir_.Path() / "sim.log").find("ZR_FWUpdateProgrammingNoCustomizedSetting"),
            std::string::npos)
      << "programmed without a log";
}

// Any user's program that holds a log (locked whole, or open sharing only reading) holds up no
// update: the run ends with the device's result within the bound after programming, and a run
// started meanwhile is not told busy. The shared log's trouble is told and stops nothing; a --log
// file's ends the run with 1, after the result. A log that ends in a line cut short gets the next
// line on a line of its own.
TEST_F(CliTest, ALogHeldByAnotherProgramHoldsUpNoUpdate) {
  dir_.CopyIn(BinDir() / "log-holder.exe");
  const std::filesystem::path own = dir_.Path() / "own.log";
  const struct {
    const char* hold;
    bool shared;  // the shared log, else a --log file
    const char* told;
  } cases[] = {
      {"lock", true, "keeps the log locked"},
      {"share-read", true, "lets no one write to it"},
      {"lock", false, "keeps the log locked"},
      {"share-read", false, "lets no one write to it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.hold) + (c.shared ? " the shared log" : " a --log file"));
    ForgetAttemptRecords();
    WriteWorld("[device]\nprogram-ms = 100\n");
    if (!std::filesystem::exists(SharedLogFile())) {
      ASSERT_EQ(Cli("status"), 10u) << Describe();
    }
    std::ofstream(own, std::ios::binary | std::ios::app).flush();
    const std::filesystem::path held = c.shared ? SharedLogFile() : own;
    const std::filesystem::path holderOut = dir_.Path() / "holder.txt";
    const std::string holding =
        std::string(1, '"').append(held.string()).append("\" ").append(c.hold).append(" 60");
    Process holder =
        Process::Launch(dir_.Path() / "log-holder.exe", dir_.Path(), {}, holding, {holderOut, {}});
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(holderOut).starts_with("held"); }, StepTimeout))
        << "the holder did not hold " << held;

    CallLog calls(dir_.Path() / "sim.log");
    calls.Refresh();
    const std::size_t from = calls.Size();
    Process first =
        Start(c.shared ? "update --json" : "update --json --log \"" + own.string() + "\"");
    const std::filesystem::path firstOut = OutFile();
    const std::filesystem::path firstErr = ErrFile();
    const auto programmed = calls.WaitFor(
        [](const std::string& line) {
          return line.starts_with("ZR_FWUpdateProgrammingNoCustomizedSetting ") &&
                 line.find(" -> ") != std::string::npos;
        },
        from, RunTimeout);
    ASSERT_TRUE(programmed) << calls.Dump();
    const Clock::time_point programmingEnded = calls.Entries()[*programmed].seen;
    Process second = Start("update --json");
    const std::optional<DWORD> firstCode = first.WaitForExit(RunTimeout);
    const auto firstTook = Clock::now() - programmingEnded;
    const std::string out = ReadFile(firstOut);
    const std::string err = ReadFile(firstErr);
    EXPECT_EQ(firstCode, c.shared ? 3010u : 1u) << out << err;
    EXPECT_LT(firstTook, 5s);
    EXPECT_NE(out.find("\"result\":\"updated\""), std::string::npos) << out;
    EXPECT_NE(err.find(c.told), std::string::npos) << err;
    EXPECT_NE(err.find(c.shared ? "the shared log is not written" : "cannot write the log"),
              std::string::npos)
        << err;
    const std::optional<DWORD> secondCode = second.WaitForExit(RunTimeout);
    ASSERT_TRUE(secondCode.has_value());
    EXPECT_NE(*secondCode, 1618u) << Describe();
    holder.Kill();
  }

  ForgetAttemptRecords();
  WriteWorld("[device]\nprogram-ms = 0\n");
  std::ofstream(own, std::ios::binary | std::ios::trunc) << "{\"state\":\"cut";
  EXPECT_EQ(Cli("update --log \"" + own.string() + "\""), 3010u) << Describe();
  const std::string log = ReadFile(own);
  ASSERT_EQ(log.rfind("{\"state\":\"cut\n{", 0), 0u) << log;
  EXPECT_EQ(LogLines(log.substr(log.find('\n') + 1)).size(), 1u) << log;
}

// The production line: two devices, each programmed, power-cycled and verified, driven by usbsim.
TEST_F(CliTest, StationVerifiesTwoDevicesAfterTheirPowerCycles) {
  WriteWorld("");
  const auto log = dir_.Path() / "station.log";
  Process station = Start("station --count 2 --json --log \"" + log.string() + "\"");
  for (std::size_t device = 1; device <= 2; ++device) {
    SCOPED_TRACE("device " + std::to_string(device));
    ASSERT_TRUE(ErrShows("Waiting for a device", device)) << Describe();
    ASSERT_TRUE(Usbsim("plug program-ms=200"));
    ASSERT_TRUE(ErrShows("Power-cycle the device now", device)) << Describe();
    ASSERT_TRUE(Usbsim("power-cycle"));
    ASSERT_TRUE(WaitUntil([&] { return Occurrences(Out(), "\n") >= device; }, StepTimeout))
        << Describe();
    if (device == 1) {
      ASSERT_TRUE(ErrShows("Unplug the device")) << Describe();
      ASSERT_TRUE(Usbsim("unplug"));
    }
  }
  EXPECT_EQ(station.WaitForExit(RunTimeout).value_or(0xDEAD), 0u) << Describe();
  EXPECT_EQ(Occurrences(Out(), "\"result\":\"verified\""), 2u) << Describe();
  KeepJson("station");
  // Each unit: its programming, then its verdict.
  const std::string lines = ReadFile(log);
  EXPECT_EQ(Occurrences(lines, "\"result\":\"updated\""), 2u) << lines;
  EXPECT_EQ(Occurrences(lines, "\"result\":\"verified\""), 2u) << lines;
}

// A mis-scan is refused and asked again, and no label, however long, slows the station: a 16 MB
// line (a scanner stuck on, a file sent to the wrong window) costs well under a second more than
// a short one, and neither is programmed, counted or logged.
TEST_F(CliTest, StationRefusesMisScansAndLongLabelsQuickly) {
  WriteWorld("");
  const auto log = dir_.Path() / "units.log";
  const std::string args =
      "station --unit-id prompt --unit-id-pattern \"SN-[0-9]+\" --log \"" + log.string() + "\"";
  auto timed = [&](const std::filesystem::path& input) {
    const auto started = std::chrono::steady_clock::now();
    Process station = Start(args, input);
    const DWORD code = station.WaitForExit(RunTimeout).value_or(0xDEAD);
    return std::pair(
        code, std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - started));
  };
  const auto misScan = dir_.Path() / "mis-scan.txt";
  std::ofstream(misScan, std::ios::binary) << "PART-77\n";
  const auto [shortCode, shortTime] = timed(misScan);
  EXPECT_NE(Err().find("Unit 1: label refused: \"PART-77\" does not match --unit-id-pattern "
                       "SN-[0-9]+. Scan it again."),
            std::string::npos)
      << Describe();
  const auto stuck = dir_.Path() / "stuck-scanner.txt";
  {
    std::ofstream out(stuck, std::ios::binary);
    const std::string megabyte(1 << 20, '7');
    for (int i = 0; i < 16; ++i) out << megabyte;
    out << "\r\nPART-77\n";
  }
  const auto [longCode, longTime] = timed(stuck);
  EXPECT_EQ(longCode, shortCode) << Describe();
  EXPECT_NE(Err().find("Unit 1: label refused: longer than 256 characters. Scan it again."),
            std::string::npos)
      << Describe();
  EXPECT_EQ(Occurrences(Err(), "label refused"), 2u) << Describe();
  EXPECT_LT((longTime - shortTime).count(), 1000)
      << "16 MB took " << longTime.count() << " ms, a short label " << shortTime.count();
  EXPECT_FALSE(std::filesystem::exists(log) && std::filesystem::file_size(log) > 0)
      << ReadFile(log);
  EXPECT_EQ(Occurrences(ReadFile(dir_.Path() / "sim.log"), " begin "), 0u);
}

// Units named by a scanner (lines on standard input, an empty one among them): each unit's output
// and log lines carry its label, number and the station; the label given twice is told and
// logged; the third unit still reports its old firmware after its power cycle, a FAIL that makes
// the run end with 1; the input's end ends the run with its figures. Then a numbered unit in JSON.
TEST_F(CliTest, StationUnitsCarryTheirIdentityAndAnOldFirmwareFails) {
  WriteWorld("");
  const auto log = dir_.Path() / "units.log";
  const auto labels = dir_.Path() / "labels.txt";
  std::ofstream(labels, std::ios::binary) << "SN-0041\r\n\r\nSN-0042\nSN-0041\n";
  Process station =
      Start("station --unit-id prompt --station LINE-2 --log \"" + log.string() + "\"", labels);
  const std::string plugs[] = {"plug program-ms=200", "plug program-ms=200",
                               "plug program-ms=200 program-version=00.01.01.05"};
  for (std::size_t unit = 1; unit <= 3; ++unit) {
    SCOPED_TRACE("unit " + std::to_string(unit));
    ASSERT_TRUE(ErrShows("Waiting for a device", unit)) << Describe();
    ASSERT_TRUE(Usbsim(plugs[unit - 1]));
    ASSERT_TRUE(ErrShows("Power-cycle the device now", unit)) << Describe();
    ASSERT_TRUE(Usbsim("power-cycle"));
    ASSERT_TRUE(ErrShows("Unplug the device", unit)) << Describe();
    ASSERT_TRUE(Usbsim("unplug"));
  }
  EXPECT_EQ(station.WaitForExit(RunTimeout).value_or(0xDEAD), 1u) << Describe();
  EXPECT_EQ(Occurrences(Err(), "Unit 2: scan its label"), 2u) << Describe();
  std::size_t at = 0;
  for (const auto& [text, part] : std::vector<std::pair<std::string, std::string>>{
           {Out(), "PASS  SN-0041  SIMDEV  USB Bridge  00.01.01.07 verified"},
           {Out(), "PASS  SN-0042  "},
           {Out(),
            "FAIL  SN-0041  SIMDEV  USB Bridge  after the power cycle the device reports "
            "00.01.01.05"}}) {
    at = text.find(part, at);
    ASSERT_NE(at, std::string::npos) << part << "\n" << Describe();
  }
  for (const std::string part :
       {"unit 1 (SN-0041): PASS, 1 passed, 0 failed", "unit 2 (SN-0042): PASS, 2 passed, 0 failed",
        "unit SN-0041 was already done in this run (PASS): programmed twice?",
        "unit 3 (SN-0041): FAIL, 2 passed, 1 failed",
        "3 units: 2 passed, 1 failed. 1 identity was given to an earlier unit too."}) {
    EXPECT_NE(Err().find(part), std::string::npos) << part << "\n" << Describe();
  }
  const std::vector<nlohmann::json> lines = LogLines(ReadFile(log));
  const std::string expected[][3] = {{"1", "SN-0041", "updated"}, {"1", "SN-0041", "verified"},
                                     {"2", "SN-0042", "updated"}, {"2", "SN-0042", "verified"},
                                     {"3", "SN-0041", "updated"}, {"3", "SN-0041", "failed"}};
  ASSERT_EQ(lines.size(), std::size(expected)) << ReadFile(log);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const nlohmann::json& line = lines[i];
    EXPECT_EQ(line["sequence"].dump(), expected[i][0]) << line.dump();
    EXPECT_EQ(line["unit"], expected[i][1]) << line.dump();
    EXPECT_EQ(line["result"], expected[i][2]) << line.dump();
    EXPECT_EQ(line.contains("repeated"), i >= 4) << line.dump();
    EXPECT_EQ(line["station"], "LINE-2") << line.dump();
    EXPECT_EQ(line["run"], lines[0]["run"]) << line.dump();
  }
  EXPECT_EQ(lines[5]["exitCode"], 1) << lines[5].dump();

  Process numbered =
      Start("station --unit-id sequence:7 --count 1 --json --log \"" + log.string() + "\"");
  ASSERT_TRUE(ErrShows("Waiting for a device")) << Describe();
  ASSERT_TRUE(Usbsim("plug program-ms=200 program-version=00.01.01.05"));
  ASSERT_TRUE(ErrShows("Power-cycle the device now")) << Describe();
  ASSERT_TRUE(Usbsim("power-cycle"));
  EXPECT_EQ(numbered.WaitForExit(RunTimeout).value_or(0xDEAD), 1u) << Describe();
  KeepJson("station-unit-failed");
  const nlohmann::json document = nlohmann::json::parse(Out());
  EXPECT_EQ(document["unit"], nlohmann::json::parse(R"({"sequence":1,"id":"7","repeated":false})"))
      << Out();
  EXPECT_EQ(document["exitCode"], 1) << Out();
  EXPECT_EQ(document["devices"][0]["result"], "failed") << Out();
  const std::vector<nlohmann::json> all = LogLines(ReadFile(log));
  ASSERT_EQ(all.size(), lines.size() + 2) << ReadFile(log);
  EXPECT_EQ(all.back()["unit"], "7") << all.back().dump();
  EXPECT_EQ(all.back()["result"], "failed") << all.back().dump();
  EXPECT_NE(all.back()["run"], lines[0]["run"]) << all.back().dump();
}

// The system's code page tables, through the conversion the program uses for the library's text.
TEST(CliText, CodePageConversions) {
  const std::string unterminated(260, '\xE9');
  std::string unterminatedUtf8;
  for (int i = 0; i < 260; ++i) unterminatedUtf8 += "\u00E9";
  struct Case {
    unsigned codePage;
    std::string bytes, utf8;
  };
  const Case cases[] = {
      {1252,
       "SIM\xC9"
       "DEV",
       "SIM\u00C9DEV"},
      {1252, "\x80 \x9F", "\u20AC \u0178"},
      {1252,
       "A\x81"
       "B\x8D\x8F\x90\x9D",
       "A\uFFFDB\uFFFD\uFFFD\uFFFD\uFFFD"},  // undefined in 1252
      {1252, std::string("\x01\x1B\x7F\0", 4), std::string("\x01\x1B\x7F\0", 4)},
      {1252, "", ""},
      {1252, unterminated, unterminatedUtf8},
      {932, "\x93\xFA\x96\x7B\xB1", "\u65E5\u672C\uFF71"},  // two double-byte, one half-width
      {932, "A\x93", "A\uFFFD"},                            // a lead byte cut off at the end
      {932, "\x85\x40Z", "\uFFFD@Z"},  // a pair the table leaves out: its trail byte is read again
      {1250,
       "\xA3\xF3"
       "d\x9F",
       "\u0141\u00F3d\u017A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::win32::CodePageToUtf8(c.codePage, c.bytes), c.utf8)
        << c.codePage << " " << testing::PrintToString(c.bytes);
  }
}

// Sets the computer name Wine reports (the registry value GetComputerName reads) for the life of
// the object, and puts the old one back.
class ComputerName {
 public:
  explicit ComputerName(const std::wstring& name) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) !=
        ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    wchar_t old[256] = L"";
    DWORD size = sizeof old - sizeof(wchar_t);
    if (RegQueryValueExW(key_, L"ComputerName", nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                         &size) == ERROR_SUCCESS) {
      old_ = old;
    }
    Set(name);
  }
  ~ComputerName() {
    if (!key_) return;
    Set(old_);
    RegCloseKey(key_);
  }
  ComputerName(const ComputerName&) = delete;
  ComputerName& operator=(const ComputerName&) = delete;
  bool Set(const std::wstring& name) {
    return key_ &&
           RegSetValueExW(key_, L"ComputerName", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(name.c_str()),
                          static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

 private:
  static constexpr wchar_t Key[] =
      L"System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";
  HKEY key_ = nullptr;
  std::wstring old_;
};

bool IsUtf8(const std::string& text) {
  return text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

// The library's text outside ASCII (identification, path), a computer name and a log folder
// outside the ANSI code page, through each command: JSON stays strict and its characters right,
// the text output is UTF-8, the log lands in its folder.
TEST_F(CliTest, TextOutsideAsciiInEveryCommand) {
  const std::wstring name = L"\u0141\u00D3D\u0179-7";
  const std::string nameUtf8 = "\u0141\u00D3D\u0179-7";
  ComputerName computer(name);
  ASSERT_TRUE(computer.Set(name));
  WriteWorld(
      "[device]\nvendor = SIM\xC9"
      "DEV\npath = \\\\.\\USB\xC9\nprogram-ms = 0\n");
  const std::filesystem::path folder = dir_.Path() / std::filesystem::path(L"\u0141\u00F3d\u017A");
  std::filesystem::create_directories(folder);
  const std::string log = platform::win32::WideToUtf8((folder / L"attempts.log").wstring());

  auto device = [&](const std::string& text) {
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char b) {
      return static_cast<unsigned char>(b) < 0x80;
    })) << text;
    const auto document = nlohmann::json::parse(text);  // strict: throws on anything invalid
    return document.contains("devices") ? document["devices"][0] : document;
  };
  auto checkDevice = [&](const nlohmann::json& entry) {
    EXPECT_EQ(entry["identity"].get<std::string>().rfind("SIM\u00C9DEV USB Bridge", 0), 0u)
        << entry.dump();
    EXPECT_EQ(entry["path"], "\\\\.\\USB\u00C9") << entry.dump();
  };

  EXPECT_EQ(Cli("status --json"), 10u) << Describe();
  checkDevice(device(Out()));
  EXPECT_EQ(Cli("status"), 10u) << Describe();
  EXPECT_TRUE(IsUtf8(Out())) << Describe();
  EXPECT_NE(Out().find("SIM\u00C9DEV USB Bridge"), std::string::npos) << Describe();

  EXPECT_EQ(Cli("--json update --log \"" + log + "\""), 3010u) << Describe();
  checkDevice(device(Out()));
  KeepJson("update-non-ascii");
  std::vector<std::string> lines = ReadLines(folder / L"attempts.log");
  ASSERT_EQ(lines.size(), 1u) << Describe();
  EXPECT_EQ(device(lines[0])["computer"], nameUtf8) << lines[0];
  checkDevice(device(lines[0]));

  WriteWorld(
      "[device]\nvendor = SIM\xC9"
      "DEV\npath = \\\\.\\USB\xC9\nprogram-ms = 0\n");
  Process station = Start("station --count 1 --json --log \"" + log + "\"");
  ASSERT_TRUE(ErrShows("Power-cycle the device now")) << Describe();
  ASSERT_TRUE(Usbsim("power-cycle"));
  EXPECT_EQ(station.WaitForExit(RunTimeout).value_or(0xDEAD), 0u) << Describe();
  checkDevice(device(Out()));
  lines = ReadLines(folder / L"attempts.log");
  ASSERT_EQ(lines.size(), 3u) << Describe();
  EXPECT_EQ(device(lines[2])["result"], "verified") << lines[2];
  EXPECT_EQ(device(lines[2])["computer"], nameUtf8) << lines[2];
}

// A deployment system asks again: after a successful update the device reports its old firmware
// until its power cycle, and a restart of the PC may not power it off. detect counts it as done,
// update does not program it again (3010, as the first time; --force does); after the power cycle
// the update is confirmed in the log and the device is up to date.
TEST_F(CliTest, ADeviceWaitingForItsPowerCycleIsNotProgrammedAgain) {
  WriteWorld("[device]\nprogram-ms = 100\n");
  const std::string log = "attempts.log";
  auto programmings = [&] { return Occurrences(ReadFile(dir_.Path() / "sim.log"), " begin "); };
  ASSERT_EQ(Cli("update --log " + log), 3010u) << Describe();
  ASSERT_EQ(programmings(), 1u);

  EXPECT_EQ(Cli("detect"), 0u) << Describe();
  EXPECT_EQ(Out(), "Firmware 00.01.01.07 programmed; waiting for the device's power cycle\n");
  EXPECT_EQ(Cli("update --json --log " + log), 3010u) << Describe();
  EXPECT_NE(Out().find("\"state\":\"pending-power-cycle\""), std::string::npos) << Describe();
  EXPECT_NE(Out().find("\"result\":\"pending-power-cycle\""), std::string::npos) << Describe();
  KeepJson("update-pending");
  EXPECT_EQ(programmings(), 1u) << "programmed again before the power cycle";
  EXPECT_EQ(Cli("status --json"), 3010u) << Describe();
  KeepJson("status-pending");
  EXPECT_EQ(Cli("update --force"), 3010u) << Describe();
  EXPECT_EQ(programmings(), 2u) << "--force did not program";

  ASSERT_TRUE(Usbsim("power-cycle", false));
  EXPECT_EQ(Cli("update --log " + log), 0u) << Describe();
  const std::string lines = ReadFile(dir_.Path() / log);
  EXPECT_EQ(Occurrences(lines, "\"result\":\"confirmed\""), 1u) << lines;
  EXPECT_EQ(Cli("detect"), 0u) << Describe();
  EXPECT_EQ(Out(), "Firmware 00.01.01.07 on every attached device\n");
}

// A run cut short leaves a trace: the intent written before the programming call outlives the
// killed program (and its lock, which no other program held open, goes with it), so status shows
// the interrupted update, detect counts the device as needing it, and the next update's log line
// says so.
TEST_F(CliTest, AKilledUpdateIsReportedAsInterrupted) {
  WriteWorld("[device]\nprogram-ms = 20000\n");
  Process killed = Start("update");
  ASSERT_TRUE(WaitUntil(
      [&] { return ReadFile(dir_.Path() / "sim.log").find(" begin ") != std::string::npos; },
      StepTimeout))
      << "programming did not start";
  killed.Kill();

  EXPECT_EQ(Cli("status --json"), 10u) << Describe();
  EXPECT_NE(Out().find("\"state\":\"interrupted\""), std::string::npos) << Describe();
  KeepJson("status-interrupted");
  EXPECT_EQ(Cli("status"), 10u) << Describe();
  EXPECT_NE(Out().find("interrupted"), std::string::npos) << Describe();
  EXPECT_EQ(Cli("detect"), 0u) << Describe();
  EXPECT_EQ(Out(), "") << "detect vouched for a device whose update was cut short";

  WriteWorld("[device]\nprogram-ms = 100\n");
  EXPECT_EQ(Cli("update --log attempts.log"), 3010u) << Describe();
  const std::string lines = ReadFile(dir_.Path() / "attempts.log");
  EXPECT_NE(lines.find("\"previousAttempt\":{\"state\":\"interrupted\""), std::string::npos)
      << lines;
}

// A record names its unit by identification and version before, not by path. Another unit at a
// pending unit's path, and the unit back at its old firmware after a run saw it unplugged, each end
// the record with a line that says why, and the device is programmed again.
TEST_F(CliTest, ARecordEndsWhenItsPathHoldsNotTheUnitItNames) {
  struct Case {
    const char* name;
    std::vector<std::string> worlds;  // after the programming, each looked at by status
    const char* look;                 // the first command that sees the last world
    DWORD exitCode;
    const char* says;  // what it prints, in full
    const char* ended;
  };
  const Case cases[] = {
      {"another unit at the path",
       {"[device]\nvendor = OTHERCO\nversion = 00.01.01.03\nprogram-ms = 100\n"},
       "detect",
       0,
       "",
       "another-unit"},
      {"its unit back at its old firmware after it was gone",
       {"", "[device]\nprogram-ms = 100\n"},
       "status --json",
       10,
       nullptr,
       "did-not-take"},
  };
  auto programmings = [&] { return Occurrences(ReadFile(dir_.Path() / "sim.log"), " begin "); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ForgetAttemptRecords();
    std::filesystem::remove(dir_.Path() / "sim.log");
    WriteWorld("[device]\nprogram-ms = 100\n");
    ASSERT_EQ(Cli("update"), 3010u) << Describe();
    for (std::size_t i = 0; i + 1 < c.worlds.size(); ++i) {
      WriteWorld(c.worlds[i]);
      EXPECT_EQ(Cli("status"), 3u) << Describe();
    }
    WriteWorld(c.worlds.back());
    const std::size_t logged = ReadFile(SharedLogFile()).size();
    EXPECT_EQ(Cli(c.look), c.exitCode) << Describe();
    if (c.says) {
      EXPECT_EQ(Out(), c.says) << "detect vouched for a unit its record does not name";
    } else {
      EXPECT_NE(Out().find("\"state\":\"did-not-take\""), std::string::npos) << Describe();
      KeepJson("status-did-not-take");
    }
    const std::string log = ReadFile(SharedLogFile());  // rotated meanwhile: all of the new one
    const std::string lines = log.size() >= logged ? log.substr(logged) : log;
    EXPECT_EQ(Occurrences(lines, std::string("\"result\":\"") + c.ended + "\""), 1u) << lines;
    EXPECT_EQ(Cli("update"), 3010u) << Describe();
    EXPECT_EQ(programmings(), 2u) << "not programmed again";
  }
  ForgetAttemptRecords();
}

// A value of the machine's summary, read back as an inventory tool reads it (the 64-bit view):
// its type and bytes, nothing when it cannot be read.
std::optional<std::pair<DWORD, std::vector<BYTE>>> StatusValue(const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Flashwright\\Status", 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  std::vector<BYTE> bytes(512);
  DWORD size = static_cast<DWORD>(bytes.size());
  const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  bytes.resize(size);
  return std::pair(type, bytes);
}
std::optional<std::wstring> StatusText(const wchar_t* name) {
  const auto value = StatusValue(name);
  if (!value || value->first != REG_SZ || value->second.size() % 2 != 0) return std::nullopt;
  std::wstring text(value->second.size() / 2, L'\0');
  std::memcpy(text.data(), value->second.data(), value->second.size());
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}
std::optional<DWORD> StatusNumber(const wchar_t* name) {
  const auto value = StatusValue(name);
  if (!value || value->first != REG_DWORD || value->second.size() != sizeof(DWORD)) {
    return std::nullopt;
  }
  DWORD number = 0;
  std::memcpy(&number, value->second.data(), sizeof number);
  return number;
}

// The summary the real program keeps in the registry after update and status, read back. Wine
// runs every program in session 1, a desktop's session, so a run there is always interactive: its
// lines never say "notified" and no message is sent (Wine's WTSSendMessageW is a stub that fails,
// and WTSGetActiveConsoleSessionId a stub that answers 1): who is told from session 0 is checked
// natively, through the fake.
TEST_F(CliTest, TheMachinesSummaryIsInTheRegistryAfterEachLook) {
  WriteWorld("[device]\nprogram-ms = 100\n");
  const std::string log = "attempts.log";
  ASSERT_EQ(Cli("update --log " + log), 3010u) << Describe();
  EXPECT_EQ(StatusText(L"State"), L"waits-for-power-cycle");
  EXPECT_EQ(StatusText(L"Devices"), L"waits-for-power-cycle");
  EXPECT_EQ(StatusNumber(L"DeviceCount"), 1u);
  EXPECT_EQ(StatusNumber(L"ExitCode"), 3010u);
  EXPECT_EQ(StatusText(L"Command"), L"update");
  EXPECT_EQ(StatusText(L"Program"), L"flashwright-cli");
  EXPECT_EQ(StatusText(L"Target"), L"00.01.01.07");
  const std::optional<std::wstring> looked = StatusText(L"LastLook");
  ASSERT_TRUE(looked);
  EXPECT_EQ(looked->size(), 20u);
  EXPECT_EQ(looked->back(), L'Z');
  const std::vector<nlohmann::json> lines = LogLines(ReadFile(dir_.Path() / log));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_FALSE(lines[0].contains("notified")) << lines[0];

  WriteWorld("");
  EXPECT_EQ(Cli("status"), 3u) << Describe();
  EXPECT_EQ(StatusText(L"State"), L"no-device");
  EXPECT_EQ(StatusText(L"Devices"), L"");
  EXPECT_EQ(StatusNumber(L"DeviceCount"), 0u);
  EXPECT_EQ(StatusNumber(L"ExitCode"), 3u);
  EXPECT_EQ(StatusText(L"Command"), L"status");
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// A fleet whose logs the program wrote itself, each PC under its own computer name, its shared
// log copied to a share as an administrator's startup script copies it: a PC fixed after a
// failure, a station's run with a unit that still reports its old firmware, a PC with two
// devices (one cannot be updated), a device waiting for its power cycle, two PCs without a device.
// report lists each device once, in the order of what needs a person, the PCs without a device
// apart and the station's units by their verdicts.
TEST_F(CliTest, ReportOfAFleetTheProgramLogged) {
  const std::filesystem::path share = dir_.Path() / "share";
  auto asPc = [&](const std::wstring& name, const std::function<void()>& runs) {
    ForgetAttemptRecords();
    std::filesystem::remove(SharedLogFile());
    {
      ComputerName computer(name);
      ASSERT_TRUE(computer.Set(name));
      runs();
    }
    std::filesystem::create_directories(share / name);
    std::filesystem::copy_file(SharedLogFile(), share / name / "flashwright.log");
  };
  asPc(L"PC-FIXED", [&] {
    WriteWorld("[device]\nprogram-ms = 0\nprogram-succeeds = no\n");
    EXPECT_EQ(Cli("update"), 1u) << Describe();
    WriteWorld("[device]\nprogram-ms = 0\n");
    EXPECT_EQ(Cli("update"), 3010u) << Describe();
    ASSERT_TRUE(Usbsim("power-cycle", false));
    EXPECT_EQ(Cli("update"), 0u) << Describe();
  });
  asPc(L"PC-LINE", [&] {
    WriteWorld("");
    Process station = Start("station --count 2 --station LINE-9");
    for (std::size_t unit = 1; unit <= 2; ++unit) {
      ASSERT_TRUE(ErrShows("Waiting for a device", unit)) << Describe();
      ASSERT_TRUE(Usbsim(unit == 1 ? "plug program-ms=0"
                                   : "plug program-ms=0 program-version=00.01.01.05"));
      ASSERT_TRUE(ErrShows("Power-cycle the device now", unit)) << Describe();
      ASSERT_TRUE(Usbsim("power-cycle"));
      if (unit == 1) {
        ASSERT_TRUE(ErrShows("Unplug the device", unit)) << Describe();
        ASSERT_TRUE(Usbsim("unplug"));
      }
    }
    EXPECT_EQ(station.WaitForExit(RunTimeout).value_or(0xDEAD), 1u) << Describe();
  });
  asPc(L"PC-TWO", [&] {
    WriteWorld("[device]\nprogram-ms = 0\n[device]\nchip-type = 12\n");
    EXPECT_EQ(Cli("update --all"), 5u) << Describe();
  });
  // Programmed, then unplugged (a look sees it gone), and back at the version it had before.
  asPc(L"PC-DNT", [&] {
    WriteWorld("[device]\nprogram-ms = 0\n");
    EXPECT_EQ(Cli("update"), 3010u) << Describe();
    ASSERT_TRUE(Usbsim("unplug", false));
    EXPECT_EQ(Cli("status"), 3u) << Describe();
    ASSERT_TRUE(Usbsim("plug program-ms=0", false));
    EXPECT_EQ(Cli("status"), 10u) << Describe();
  });
  asPc(L"PC-WAIT", [&] {
    WriteWorld("[device]\nprogram-ms = 0\n");
    EXPECT_EQ(Cli("update"), 3010u) << Describe();
  });
  for (const wchar_t* name : {L"PC-NONE1", L"PC-NONE2"}) {
    asPc(name, [&] {
      WriteWorld("");
      EXPECT_EQ(Cli("detect"), 0u) << Describe();
    });
  }
  ForgetAttemptRecords();

  ASSERT_EQ(Cli("report share"), 0u) << Describe();
  EXPECT_EQ(Err(), "") << Describe();
  // Each row's computer, standing and whether it needs a person.
  const std::string table = ReadFile(dir_.Path() / "flashwright-report.csv");
  std::vector<std::string> rows;
  for (std::size_t at = table.find("\r\n") + 2; at < table.size();
       at = table.find("\r\n", at) + 2) {
    std::size_t end = at;
    for (int field = 0; field < 3; ++field) end = table.find("\",\"", end) + 1;
    rows.push_back(table.substr(at, end - at));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      R"("PC-DNT","did-not-take","yes")",
                      R"("PC-TWO","not-updatable","yes")",
                      R"("PC-TWO","waits-for-power-cycle","no")",
                      R"("PC-WAIT","waits-for-power-cycle","no")",
                      R"("PC-FIXED","done","no")",
                      R"("PC-NONE1","","no")",
                      R"("PC-NONE2","","no")",
                      R"("PC-LINE","done","no")",
                      R"("PC-LINE","failed","yes")",
                  }))
      << table;
  const std::string page = ReadFile(dir_.Path() / "flashwright-report.html");
  const std::size_t problems = page.find("<h2>Needs a person</h2>");
  const std::string needs =
      page.substr(problems, page.find("<h2>The other devices</h2>") - problems);
  std::vector<std::string> computers;
  for (std::size_t at = needs.find("<tr><td>"); at != std::string::npos;
       at = needs.find("<tr><td>", at + 1)) {
    computers.push_back(needs.substr(at + 8, needs.find("</td>", at) - at - 8));
  }
  EXPECT_EQ(computers, (std::vector<std::string>{"PC-DNT", "PC-TWO"})) << needs;
  EXPECT_NE(page.find("<h2>PCs with no device</h2>\n<p>PC-NONE1, PC-NONE2</p>"), std::string::npos);
  EXPECT_NE(page.find("LINE-9, run "), std::string::npos);
  EXPECT_NE(page.find(": 2 units, 1 passed, 1 failed</h3>"), std::string::npos);
  // PC-FIXED's failure is history.
  EXPECT_NE(page.find("<td>PC-FIXED</td>", page.find("<details>")), std::string::npos);
}

}  // namespace
}  // namespace e2e
