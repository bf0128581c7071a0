// End-to-end tests of the recorder and of replay: a window session and a command-line update run
// through the recorder in front of the simulator playing the vendor's library, then again on the
// simulator replaying the recording, which must give the same states and no divergence; a
// changed program reports its divergence; and the recorder without a complete vendor library.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness/AppWindow.h"
#include "harness/Driver.h"
#include "harness/Simulator.h"
#include "platform/win32/FaultBarrier.h"
#include "recording/Recording.h"
#include "updatelib/EntryPoints.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr char ProgramName[] = "Flashwright.exe";
constexpr char CliName[] = "flashwright-cli.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr char RecorderName[] = "flashwright-recorder.dll";
constexpr Millis StartTimeout = 20s;
constexpr Millis ScreenTimeout = 10s;
constexpr Millis RunTimeout = 30s;

// A device with an identification outside ASCII; listing is slow, and reading a version runs a
// message loop of the library's own. The window's session starts with it alone.
constexpr char OneDeviceWorld[] =
    "[library]\n"
    "stall = ZR_GetDeviceList:300\n"
    "pump = ZR_GetFWVersion:100\n"
    "[device]\n"
    "vendor-hex = C9 54 C9\n"
    "program-ms = 500\n";
// The second device, whose image does not fit (the window's session plugs it in later).
constexpr char SecondDevice[] = "image-fits=no";

fs::path BinDir() { return ExecutableDir(); }
fs::path Variant(const std::string& name) {
  return BinDir().parent_path() / "variants" / name /
         (name == "recorder" ? RecorderName : LibraryName);
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A recording folder (the programs, the recorder, the simulator as the vendor's library) and a
// replay folder (the programs and the simulator), each with its own world file for usbsim.
class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Recording());
    fs::create_directories(Replaying());
    for (const fs::path& dir : {Recording(), Replaying()}) {
      for (const char* program : {ProgramName, CliName}) {
        fs::copy_file(BinDir() / program, dir / program);
      }
      std::ofstream(dir / "world.ini", std::ios::binary) << OneDeviceWorld << "[device]\n"
                                                         << SecondDevice << "\n";
    }
    fs::copy_file(Variant("recorder"), Recording() / RecorderName);
    fs::copy_file(BinDir() / LibraryName, Recording() / LibraryName);
    fs::copy_file(BinDir() / LibraryName, Replaying() / LibraryName);
    ASSERT_EQ(SwitchRecording("on"), 0u);
  }
  void TearDown() override { SwitchRecording("off"); }

  // `support record on|off`, as an administrator runs it: its exit code.
  DWORD SwitchRecording(const std::string& state) {
    Process cli = Process::Launch(Recording() / CliName, Recording(), {}, "support record " + state,
                                  {dir_.Path() / "switch.txt", {}});
    return cli.WaitForExit(RunTimeout).value_or(0xDEAD);
  }

  fs::path Recording() const { return dir_.Path() / "record"; }
  fs::path Replaying() const { return dir_.Path() / "replay"; }
  fs::path RecordingFile() const { return dir_.Path() / "session.fwrec"; }

  Process::Environment RecordEnvironment() const {
    return {{"FLASHWRIGHT_SIM_SCENARIO", (Recording() / "world.ini").string()},
            {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "record.log").string()},
            {"FLASHWRIGHT_RECORDING", RecordingFile().string()},
            {"FLASHWRIGHT_SIM_REPLAY", ""}};
  }
  Process::Environment ReplayEnvironment(const std::string& log) const {
    return {{"FLASHWRIGHT_SIM_SCENARIO", ""},
            {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / log).string()},
            {"FLASHWRIGHT_SIM_REPLAY", RecordingFile().string()},
            {"FLASHWRIGHT_RECORDING", ""}};
  }

  // usbsim replay-check on the recording and a replay's log: its exit code and output.
  std::pair<DWORD, std::string> ReplayCheck(const std::string& log) {
    const fs::path out = dir_.Path() / (log + ".check");
    Process tool = Process::Launch(BinDir() / "usbsim.exe", dir_.Path(), {},
                                   "replay-check \"" + RecordingFile().string() + "\" \"" +
                                       (dir_.Path() / log).string() + "\"",
                                   {out, {}});
    const auto code = tool.WaitForExit(RunTimeout);
    return {code.value_or(0xDEAD), ReadFile(out)};
  }

  // The command line with `args` from `dir`: its exit code and its output.
  std::pair<DWORD, std::string> Cli(const fs::path& dir, const std::string& args,
                                    const Process::Environment& environment) {
    const fs::path out = dir / ("out" + std::to_string(++runs_) + ".json");
    Process program = Process::Launch(dir / CliName, dir, environment, args, {out, {}});
    const auto code = program.WaitForExit(RunTimeout);
    return {code.value_or(0xDEAD), ReadFile(out)};
  }

  // Start, Update, power cycle, a second device plugged in, Exit: the screen after each step.
  std::vector<std::string> WindowSession(const fs::path& dir,
                                         const Process::Environment& environment) {
    std::vector<std::string> screens;
    Process program = Process::Launch(dir / ProgramName, dir, environment);
    HWND main = WaitForTopLevelWindow({program.Id(), app::MainClass, app::FinalCaption, true},
                                      StartTimeout, &program);
    if (!main) {
      ADD_FAILURE() << "main window not shown";
      return screens;
    }
    auto settle = [&](const char* step, const std::function<bool(const app::Screen&)>& done) {
      app::Screen screen;
      if (!WaitUntil(
              [&] {
                screen = app::ReadScreen(main);
                return screen.visibleStatusAreas == 1 && done(screen);
              },
              ScreenTimeout)) {
        ADD_FAILURE() << step << ": the window shows\n" << app::Describe(screen);
      }
      screens.push_back(app::Describe(screen));
    };
    const fs::path world = dir / "world.ini";
    settle("start", [](const app::Screen& s) { return s.offeredButtons.size() == 1; });
    if (HWND update = app::OfferedButton(main, "Update")) PostClick(update);
    settle("update", [](const app::Screen& s) { return s.lines[0] == "Successfully updated"; });
    EXPECT_EQ(RunUsbsim(BinDir(), world, "power-cycle"), 0u);
    settle("power cycle",
           [](const app::Screen& s) { return s.lines[2] == "Firmware: Up to date"; });
    EXPECT_EQ(RunUsbsim(BinDir(), world, std::string("plug ") + SecondDevice), 0u);
    settle("rescan",
           [](const app::Screen& s) { return s.lines[0] == "Multiple USB drives are attached."; });
    if (HWND exit = app::OfferedButton(main, "Exit")) PostClick(exit);
    EXPECT_EQ(program.WaitForExit(RunTimeout), 0u) << "Exit did not end the program";
    return screens;
  }

  TempDir dir_{"recorder"};
  int runs_ = 0;
};

TEST_F(RecorderTest, WindowSessionReplaysToTheSameStatesWithoutDivergence) {
  for (const fs::path& dir : {Recording(), Replaying()}) {
    std::ofstream(dir / "world.ini", std::ios::binary | std::ios::trunc) << OneDeviceWorld;
  }
  const std::vector<std::string> recorded = WindowSession(Recording(), RecordEnvironment());
  ASSERT_EQ(recorded.size(), 4u);
  EXPECT_NE(recorded[0].find("\xC9T\xC9"), std::string::npos) << recorded[0];
  const std::string recording = ReadFile(RecordingFile());
  ASSERT_EQ(recording.rfind("fwrec 1\n", 0), 0u) << recording;
  // Every library call the session made is in the recording, programming included.
  EXPECT_NE(recording.find(" ZR_FWUpdateProgrammingNoCustomizedSetting path=5C5C2E5C53494D55534231"
                           " -> 1 us="),
            std::string::npos)
      << recording;
  std::cout << "window session recording: " << recording.size() << " bytes\n";
  const recorder::ParsedRecording parsed = recorder::ParseRecording(recording);
  ASSERT_TRUE(parsed.recording && parsed.recording->origin) << parsed.error;
  EXPECT_EQ(parsed.recording->origin->command, "window");

  const std::vector<std::string> replayed = WindowSession(Replaying(), ReplayEnvironment("w.log"));
  EXPECT_EQ(replayed, recorded);
  const auto [code, output] = ReplayCheck("w.log");
  EXPECT_EQ(code, 0u) << output << ReadFile(dir_.Path() / "w.log");
  EXPECT_NE(output.find("0 divergence(s)"), std::string::npos) << output;
}

TEST_F(RecorderTest, CommandLineUpdateReplaysToTheSameJsonAndAChangedRunDiverges) {
  const auto [recordedCode, recordedJson] =
      Cli(Recording(), "update --all --json", RecordEnvironment());
  EXPECT_EQ(recordedCode, 5u) << "the second device cannot be updated\n" << recordedJson;
  const std::string recording = ReadFile(RecordingFile());
  std::cout << "command-line recording: " << recording.size() << " bytes\n";
  // The slow listing and the identification's bytes, as the library gave them.
  EXPECT_TRUE(
      std::regex_search(recording, std::regex(" ZR_GetDeviceList -> 1 count=2 .* us=3[0-9]{5} ")))
      << recording;
  EXPECT_NE(recording.find("data=008006021F000000C954C9"), std::string::npos) << recording;

  // Durations are measured, not replayed exactly. The replay is the same session on the same PC:
  // the record the recorded update left would make the replay see a device waiting for its power
  // cycle.
  const std::regex duration("\"durationMs\":[0-9]+");
  ForgetAttemptRecords();
  const auto [replayedCode, replayedJson] =
      Cli(Replaying(), "update --all --json", ReplayEnvironment("cli.log"));
  EXPECT_EQ(replayedCode, recordedCode);
  EXPECT_EQ(std::regex_replace(replayedJson, duration, ""),
            std::regex_replace(recordedJson, duration, ""));
  const auto [sameCode, sameOutput] = ReplayCheck("cli.log");
  EXPECT_EQ(sameCode, 0u) << sameOutput;

  // Programming the second device instead: the first device's programming is never asked for.
  Cli(Replaying(), "update --device 2 --json", ReplayEnvironment("changed.log"));
  const auto [changedCode, changedOutput] = ReplayCheck("changed.log");
  EXPECT_EQ(changedCode, 1u) << changedOutput;
  EXPECT_NE(changedOutput.find("divergence unasked: 2 recorded call(s) from"), std::string::npos)
      << changedOutput;
}

fs::path RecordingsFolder() {
  wchar_t data[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  return fs::path(data) / "Flashwright" / "recordings";
}

std::set<fs::path> RecordingsMade() {
  std::set<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(RecordingsFolder(), error)) {
    if (entry.path().extension() == ".fwrec") files.insert(entry.path());
  }
  return files;
}

// The entries of a ZIP, by name, read through its central directory and inflated; an entry that
// is not deflated, or whose bytes do not match its CRC, is given as "(bad entry)".
std::map<std::string, std::string> ZipEntries(const std::string& zip) {
  std::map<std::string, std::string> entries;
  auto number = [&](std::size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes; i-- > 0;) {
      value = value << 8 | static_cast<unsigned char>(at + i < zip.size() ? zip[at + i] : 0);
    }
    return std::size_t{value};
  };
  const std::size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) return entries;
  std::size_t at = number(end + 16, 4);
  for (std::size_t i = 0; i < number(end + 10, 2) && number(at, 4) == 0x02014B50; ++i) {
    const std::size_t local = number(at + 42, 4);
    const std::size_t data = local + 30 + number(local + 26, 2) + number(local + 28, 2);
    std::string contents(number(at + 24, 4), '\0');
    z_stream stream{};
    bool good = number(at + 10, 2) == 8 && inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    if (good) {
      stream.next_in =
          reinterpret_cast<Bytef*>(const_cast<char*>(zip.data()) + std::min(data, zip.size()));
      stream.avail_in = static_cast<uInt>(std::min(number(at + 20, 4), zip.size() - data));
      stream.next_out = reinterpret_cast<Bytef*>(contents.data());
      stream.avail_out = static_cast<uInt>(contents.size());
      good = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.avail_out == 0 &&
             crc32(0, reinterpret_cast<const Bytef*>(contents.data()),
                   static_cast<uInt>(contents.size())) == number(at + 16, 4);
      inflateEnd(&stream);
    }
    entries[zip.substr(at + 46, number(at + 28, 2))] = good ? contents : "(bad entry)";
    at += 46 + number(at + 28, 2) + number(at + 30, 2) + number(at + 32, 2);
  }
  return entries;
}

// The support road: with the switch on, a run of the command line is recorded in the data folder
// under a header naming the program and the versions; with it off, nothing is; the recording
// replays without divergence; and collect gathers it with the logs, status and versions.
TEST_F(RecorderTest, TheSwitchRecordsASessionThatReplaysAndCollectGathersItInOneZip) {
  const std::set<fs::path> before = RecordingsMade();
  // The recorder's own default place: no file named.
  Process::Environment environment = RecordEnvironment();
  for (auto& [name, value] : environment) {
    if (name == "FLASHWRIGHT_RECORDING") value.clear();
  }
  const auto [recordedCode, recordedJson] = Cli(Recording(), "update --all --json", environment);
  EXPECT_EQ(recordedCode, 5u) << recordedJson;
  std::set<fs::path> made = RecordingsMade();
  for (const fs::path& old : before) made.erase(old);
  ASSERT_EQ(made.size(), 1u) << "one recording for the run";
  const fs::path recording = *made.begin();
  const recorder::ParsedRecording parsed = recorder::LoadRecording(recording.string());
  ASSERT_TRUE(parsed.recording) << parsed.error;
  ASSERT_TRUE(parsed.recording->origin) << ReadFile(recording);
  EXPECT_EQ(parsed.recording->origin->program, CliName);
  EXPECT_EQ(parsed.recording->origin->command, "update --all --json");
  const std::regex version("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+");
  EXPECT_TRUE(std::regex_match(parsed.recording->origin->programVersion, version));
  EXPECT_TRUE(std::regex_match(parsed.recording->origin->recorderVersion, version));

  ASSERT_EQ(SwitchRecording("off"), 0u);
  Cli(Recording(), "status", environment);
  EXPECT_EQ(RecordingsMade().size(), before.size() + 1) << "a run with the switch off recorded";

  fs::copy_file(recording, RecordingFile());
  ForgetAttemptRecords();
  Cli(Replaying(), "update --all --json", ReplayEnvironment("support.log"));
  const auto [replayCode, replayOutput] = ReplayCheck("support.log");
  EXPECT_EQ(replayCode, 0u) << replayOutput;

  const fs::path zip = dir_.Path() / "support.zip";
  const auto [collectCode, printed] =
      Cli(Recording(), "support collect \"" + zip.string() + "\"", environment);
  EXPECT_EQ(collectCode, 0u) << printed;
  EXPECT_EQ(printed, zip.string() + "\n");
  std::map<std::string, std::string> entries = ZipEntries(ReadFile(zip));
  std::string listing;
  for (const auto& [name, contents] : entries) listing += name + "\n";
  for (const std::string& name :
       {"recordings/" + recording.filename().string(), std::string("logs/flashwright.log"),
        std::string("status.json"), std::string("versions.txt"), std::string("settings.txt")}) {
    EXPECT_TRUE(entries.contains(name)) << name << " is missing from\n" << listing;
  }
  for (const auto& [name, contents] : entries) {
    EXPECT_TRUE(name.starts_with("recordings/") || name.starts_with("logs/") ||
                name.find('/') == std::string::npos)
        << "something else of the PC: " << name;
  }
  EXPECT_EQ(entries["recordings/" + recording.filename().string()], ReadFile(recording));
  EXPECT_NE(entries["status.json"].find("\"command\":\"status\""), std::string::npos)
      << entries["status.json"];
  EXPECT_NE(entries["settings.txt"].find("recording: off\nrecorder: present\n"), std::string::npos)
      << entries["settings.txt"];
  EXPECT_TRUE(std::regex_search(entries["versions.txt"],
                                std::regex("flashwright-recorder.dll: [0-9]+\\.[0-9]+")))
      << entries["versions.txt"];
  fs::remove(recording);
}

// Without the vendor's library beside it, or with one lacking an entry point, the recorder does
// not load, and the program reports its library missing or incomplete as always.
TEST_F(RecorderTest, WithoutACompleteVendorLibraryBindingFailsAsUsual) {
  const struct {
    const char* name;
    fs::path vendor;
  } cases[] = {{"missing", {}}, {"lacking its last entry point", Variant("missing-last")}};
  for (const auto& [name, vendor] : cases) {
    SCOPED_TRACE(name);
    fs::remove(Recording() / LibraryName);
    if (!vendor.empty()) fs::copy_file(vendor, Recording() / LibraryName);
    const auto [code, output] = Cli(Recording(), "status --json", RecordEnvironment());
    EXPECT_EQ(code, 6u) << output;
    EXPECT_FALSE(fs::exists(RecordingFile())) << "the refused recorder wrote a recording";
  }
}

// A call nested inside a pumping call (a handler the library ran calls it again) faults and the
// program takes over, as its fault barrier does; the outer call then returns. The recording keeps
// both: the nested call's fault, and the outer call's own result under its own number.
LRESULT CALLBACK CallNested(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_APP) return DefWindowProcW(window, message, wParam, lParam);
  using GetChipType = updatelib::ZR_GetChipType_Fn;
  static auto call = reinterpret_cast<GetChipType>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"flashwright-recorder.dll"), "ZR_GetChipType")));
  platform::win32::SehFaultBarrier barrier;
  struct Args {
    GetChipType call;
    char path[8] = "x";
    int chipType = 0;
  } args{call};
  const auto fault = barrier.Run(
      [](void* context) {
        auto& a = *static_cast<Args*>(context);
        a.call(a.path, &a.chipType);
      },
      &args);
  return fault ? 1 : 0;
}

TEST_F(RecorderTest, ANestedCallThatFaultedLeavesTheOuterCallsRecordWhole) {
  const fs::path world = dir_.Path() / "nested.ini";
  std::ofstream(world, std::ios::binary) << "[library]\n"
                                            "pump = ZR_GetDeviceList:300\n"
                                            "crash = ZR_GetChipType\n"
                                            "[device]\n"
                                            "program-ms = 100\n";
  const std::pair<const char*, std::string> variables[] = {
      {"FLASHWRIGHT_SIM_SCENARIO", world.string()},
      {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "nested.log").string()},
      {"FLASHWRIGHT_RECORDING", RecordingFile().string()}};
  for (const auto& [name, value] : variables) SetEnvironmentVariableA(name, value.c_str());

  HMODULE recorder = LoadLibraryW((Recording() / RecorderName).wstring().c_str());
  ASSERT_NE(recorder, nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = CallNested;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"FwRecorderNested";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"FwRecorderNested", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  PostMessageW(window, WM_APP, 0, 0);
  auto list = reinterpret_cast<updatelib::ZR_GetDeviceList_Fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(recorder, "ZR_GetDeviceList")));
  ASSERT_NE(list, nullptr);
  std::vector<std::array<char, updatelib::PathBufferSize>> slots(updatelib::DeviceListSlotCount);
  std::vector<char*> paths;
  for (auto& slot : slots) paths.push_back(slot.data());
  int count = 0;
  const int listed = list(paths.data(), &count);
  DestroyWindow(window);
  FreeLibrary(recorder);
  for (const auto& [name, value] : variables) SetEnvironmentVariableA(name, nullptr);

  const recorder::ParsedRecording parsed = recorder::LoadRecording(RecordingFile().string());
  ASSERT_TRUE(parsed.recording) << parsed.error;
  const std::vector<recorder::RecordedCall>& calls = parsed.recording->calls;
  ASSERT_EQ(calls.size(), 2u) << ReadFile(RecordingFile());
  EXPECT_EQ(calls[0].name, "ZR_GetDeviceList");
  EXPECT_EQ(calls[0].result, listed);
  EXPECT_GE(calls[0].messages, 1);
  EXPECT_EQ(calls[1].name, "ZR_GetChipType");
  EXPECT_FALSE(calls[1].result);
  ASSERT_TRUE(calls[1].fault);
  EXPECT_EQ(calls[1].fault->code, 0xC0000005u);
}

}  // namespace
}  // namespace e2e
