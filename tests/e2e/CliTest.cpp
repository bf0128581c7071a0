// End-to-end tests of flashwright-cli.exe under Wine with the simulator: its exit codes (read from
// the Windows process, all 32 bits), its JSON output (kept for the schema check), --all, the
// station loop driven by usbsim, and the machine-wide lock. (Wine 8 delivers no console control
// event to another process group, so Ctrl+C during programming is checked in the unit tests.)
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e/driver/Driver.h"
#include "tests/e2e/driver/Simulator.h"

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

  // Starts the program with `args`, its output in files of this test's directory.
  Process Start(const std::string& args) {
    ++runs_;
    return Process::Launch(dir_.Path() / CliName, dir_.Path(),
                           {{"FLASHWRIGHT_SIM_SCENARIO", World().string()},
                            {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()}},
                           args, {OutFile(), ErrFile()});
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

  // Keeps the JSON the last run wrote, for the check against the schema.
  void KeepJson(const std::string& name) {
    const auto folder = BinDir().parent_path() / "cli-json";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / (name + ".json"), std::ios::binary | std::ios::trunc) << Out();
  }

  // Waits until standard error holds `text` at least `times` times.
  bool ErrShows(const std::string& text, std::size_t times = 1) {
    return WaitUntil([&] { return Occurrences(Err(), text) >= times; }, StepTimeout);
  }

  std::string Describe() const { return "stdout:\n" + Out() + "stderr:\n" + Err(); }

  TempDir dir_{"cli"};
  int runs_ = 0;
};

TEST_F(CliTest, StatusAndUpdateExitCodes) {
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
}

TEST_F(CliTest, MissingLibraryAndAHeldLockHaveTheirOwnCodes) {
  WriteWorld("[device]\nprogram-ms = 0\n");
  HANDLE lock = CreateMutexW(nullptr, TRUE, L"Global\\FlashwrightDeviceProgramming");
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(Cli("update --json"), 7u) << Describe();
  KeepJson("update-locked");
  ReleaseMutex(lock);
  CloseHandle(lock);
  EXPECT_EQ(ReadFile(dir_.Path() / "sim.log").find("begin"), std::string::npos)
      << "programmed while the lock was held";

  std::filesystem::remove(dir_.Path() / LibraryName);
  EXPECT_EQ(Cli("status --json"), 6u) << Describe();
  KeepJson("status-no-library");
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
  EXPECT_EQ(Occurrences(ReadFile(log), "\n"), 2u);
}

}  // namespace
}  // namespace e2e
