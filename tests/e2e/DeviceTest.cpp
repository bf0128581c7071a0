// End-to-end tests of the device scan, the firmware update and the rescans after device changes:
// the real Flashwright.exe against the simulator, the world changed with usbsim or by the test,
// and the simulator's call log read to see which library calls the program made and when.
#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>
#include <sddl.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "harness/AppWindow.h"
#include "harness/Driver.h"
#include "harness/Simulator.h"
#include "harness/TitledWindow.h"
#include "platform/LockPlacement.h"
#include "platform/win32/Owners.h"
#include "platform/win32/Text.h"

namespace e2e {
namespace {

using app::FinalCaption;
using app::MainClass;
using app::TextSource;

constexpr char ProgramName[] = "Flashwright.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr Millis StartTimeout = 20s;
constexpr Millis ExitTimeout = 20s;
// How long a screen may take to appear once its cause has happened.
constexpr Millis ScreenTimeout = 5s;
// How long the tests watch for a scan that must not come: well past the 200 ms rescan delay.
constexpr Millis QuietPeriod = 1s;

// The simulator's default device identifies as vendor "SIMDEV" and product "USB Bridge", each
// padded with blanks to its field; the blanks between the two fields stay.
constexpr char DefaultIdentity[] = "SIMDEV  USB Bridge";

constexpr char UpdateRequired[] = "Firmware: Update required!";
constexpr char UpToDate[] = "Firmware: Up to date";
constexpr char Updating1[] = "DO NOT disconnect the device during the F/W update.";
constexpr char Updating2[] = "Updating.....";
constexpr char Updated1[] = "Successfully updated";
constexpr char Updated2[] = "Please power off/on your USB device.";
constexpr char UpdateFailed[] = "Update Fail!";
constexpr char NoDevice1[] = "No compatible USB device were found.";
constexpr char NoDevice2[] = "Please plug a compatible USB device.";
constexpr char Multiple1[] = "Multiple USB drives are attached.";
constexpr char Multiple2[] = "Please disconnect all devices.";
constexpr char Multiple3[] = "except the one that needs to be updated.";

constexpr char ProgrammingCall[] = "ZR_FWUpdateProgrammingNoCustomizedSetting ";

std::filesystem::path BinDir() { return ExecutableDir(); }

bool IsProgrammingBegin(const std::string& line) {
  return line.starts_with(ProgrammingCall) && line.find(" begin ms=") != std::string::npos;
}
bool IsProgrammingEnd(const std::string& line) {
  return line.starts_with(ProgrammingCall) && line.find(" -> ") != std::string::npos;
}

struct Expected {
  std::array<std::string, 3> lines;
  std::vector<std::string> buttons;  // offered (visible and enabled), Update before Exit
};

std::string Describe(const Expected& expected) {
  app::Screen screen;
  screen.lines = expected.lines;
  screen.offeredButtons = expected.buttons;
  screen.visibleStatusAreas = 1;
  std::string text = app::Describe(screen);
  return text.substr(text.find('\n') + 1);  // without the caption line
}

// The program in a directory of its own with the simulator beside it, in a world read from
// world.ini there (written by the test or changed with usbsim), logging to sim.log there.
class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.CopyIn(BinDir() / ProgramName);
    dir_.CopyIn(BinDir() / LibraryName);
  }

  std::filesystem::path World() const { return dir_.Path() / "world.ini"; }

  void WriteWorld(std::string_view text) {
    std::ofstream out(World(), std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << "cannot write " << World();
  }

  // Starts the program (under another name when given) in this test's world, logging there.
  void Launch(const std::string& name = ProgramName) {
    program_ = Process::Launch(dir_.Path() / name, dir_.Path(),
                               {{"FLASHWRIGHT_SIM_SCENARIO", World().string()},
                                {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()}});
  }

  // Starts the program and waits for its main window, which shows once the first scan is done.
  void Start(const std::string& name = ProgramName) {
    Launch(name);
    main_ = WaitForTopLevelWindow({program_.Id(), MainClass, FinalCaption, true}, StartTimeout,
                                  &program_);
    ASSERT_NE(main_, nullptr) << "main window not shown; running: " << program_.Running() << "\n"
                              << log_.Dump();
  }

  // usbsim on this test's world; true when it succeeded.
  bool Usbsim(const std::string& args, bool announce = true) {
    const auto code = RunUsbsim(BinDir(), World(), args, announce);
    return code && *code == 0;
  }

  // Waits until the window shows `expected`; the failure tells what it showed instead.
  ::testing::AssertionResult Shows(const Expected& expected, Millis timeout = ScreenTimeout,
                                   TextSource source = TextSource::Ask) {
    app::Screen screen;
    const bool shown = WaitUntil(
        [&] {
          screen = app::ReadScreen(main_, source);
          return screen.lines == expected.lines && screen.offeredButtons == expected.buttons &&
                 screen.visibleStatusAreas == 1;
        },
        timeout);
    if (shown) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected:\n"
                                         << Describe(expected) << "shown:\n"
                                         << app::Describe(screen) << log_.Dump();
  }

  // Clicks a button that must be offered now.
  void Click(const std::string& name) {
    HWND button = app::OfferedButton(main_, name);
    ASSERT_NE(button, nullptr) << name << " not offered:\n"
                               << app::Describe(app::ReadScreen(main_));
    PostClick(button);
  }

  // Index of the next device-list call (the start of a scan) from log line `from` on.
  std::optional<std::size_t> NextScan(std::size_t from, Millis timeout) {
    return log_.WaitFor(IsDeviceListCall, from, timeout);
  }

  // Checks that no scan starts from log line `from` on during the quiet period.
  void ExpectNoScanFrom(std::size_t from, const char* when) {
    const auto scan = NextScan(from, QuietPeriod);
    EXPECT_FALSE(scan.has_value()) << "a scan ran " << when << ", at log line " << *scan << "\n"
                                   << log_.Dump();
  }

  // Closes the window from its title bar and checks that the program ends normally.
  void ExpectOrderlyEnd() {
    ASSERT_TRUE(WindowText(main_).has_value()) << "the window no longer answers";
    PostMessageA(main_, WM_CLOSE, 0, 0);
    const auto code = program_.WaitForExit(ExitTimeout);
    ASSERT_TRUE(code.has_value()) << "program still running after WM_CLOSE";
    EXPECT_EQ(*code, 0u);
  }

  TempDir dir_{"device"};
  CallLog log_{dir_.Path() / "sim.log"};
  Process program_;
  HWND main_ = nullptr;
};

// ---- the typical road -------------------------------------------------------------------------

TEST_F(DeviceTest, TypicalRoadUpdatesAndRescansAfterPowerCycle) {
  std::filesystem::remove(SharedLogFile());
  WriteWorld("[device]\nversion = 00.01.01.05\nprogram-ms = 1000\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));

  // While the programming call blocks the program, the window system still holds the texts the
  // update showed before it: read those, without asking the busy program.
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto begin = log_.WaitFor(IsProgrammingBegin, 0, ScreenTimeout);
  ASSERT_TRUE(begin.has_value()) << "programming did not start\n" << log_.Dump();
  EXPECT_TRUE(Shows({{Updating1, Updating2, ""}, {}}, 500ms, TextSource::Stored));
  EXPECT_FALSE(IsEnabled(FindDescendantById(main_, app::WindowId(app::ControlId::UpdateBtn))))
      << "Update enabled";
  EXPECT_FALSE(IsEnabled(FindDescendantById(main_, app::WindowId(app::ControlId::ExitBtn))))
      << "Exit enabled";
  EXPECT_EQ(log_.Count(IsProgrammingEnd, *begin), 0u)
      << "programming ended before the updating lines were seen; they were not seen during it";

  ASSERT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}));
  const auto end = log_.WaitFor(IsProgrammingEnd, *begin, 0ms);
  ASSERT_TRUE(end.has_value());
  EXPECT_EQ(log_.Entries()[*end].text,
            std::string(ProgrammingCall) + "path=\"\\\\.\\SIMUSB1\" -> 1 pending=\"00.01.01.07\"");
  EXPECT_EQ(log_.Count(IsDeviceListCall, *begin), 0u) << "scan during the update\n" << log_.Dump();
  // The attempt is in the shared log.
  const std::vector<std::string> trail = ReadLines(SharedLogFile());
  ASSERT_EQ(trail.size(), 1u) << Join(trail);
  EXPECT_NE(trail[0].find(R"("program":"Flashwright","version":"0.1.1.7","command":"update")"),
            std::string::npos)
      << trail[0];
  EXPECT_NE(trail[0].find(R"("path":"\\\\.\\SIMUSB1")"), std::string::npos) << trail[0];
  EXPECT_NE(trail[0].find(R"("result":"updated","exitCode":null)"), std::string::npos) << trail[0];

  // Every accepted device change asks a window titled "Message" to close; this one stays and
  // notes when each request came, i.e. when the program took each change.
  TitledWindow probe("Message", TitledWindow::OnClose::Stay);
  const std::size_t beforeCycle = log_.Size();
  ASSERT_TRUE(Usbsim("power-cycle"));
  const auto scan = NextScan(beforeCycle, ScreenTimeout);
  ASSERT_TRUE(scan.has_value()) << "no rescan after the power cycle\n" << log_.Dump();
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpToDate}, {"Exit"}}));

  // usbsim announces removal, arrival and a node change; the program takes the first and the
  // last, and scans once, 200 ms after the last.
  const auto changes = probe.CloseRequests();
  ASSERT_FALSE(changes.empty()) << "the program took none of the change events";
  EXPECT_EQ(changes.size(), 2u) << "change events taken (removal and node change expected)";
  const auto delay =
      std::chrono::duration_cast<Millis>(log_.Entries()[*scan].seen - changes.back());
  // The probe notes a close request when its thread gets to it, which may be a little late.
  EXPECT_GE(delay.count(), 100) << "rescan too soon after the last change";
  EXPECT_LT(delay.count(), 2000) << "rescan too late after the last change";
  ExpectNoScanFrom(*scan + 1, "a second time for one burst of changes");
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpToDate}, {"Exit"}}, 0ms));

  // Exit ends the program.
  ASSERT_NO_FATAL_FAILURE(Click("Exit"));
  const auto code = program_.WaitForExit(ExitTimeout);
  ASSERT_TRUE(code.has_value()) << "program still running after Exit";
  EXPECT_EQ(*code, 0u);
}

// ---- what the first scan concludes
// ---------------------------------------------------------------

struct ScanCase {
  const char* name;
  const char* world;
  std::array<const char*, 3> lines;
  const char* button;                         // the one offered
  bool (*forbiddenCall)(const std::string&);  // a call the scan must not make; nullptr: none
};

void PrintTo(const ScanCase& scanCase, std::ostream* out) { *out << scanCase.name; }

bool IsModeQuery(const std::string& line) { return line.starts_with("ZR_GetRunningCodeMode "); }
bool IsQueryAfterChipType(const std::string& line) {
  return IsModeQuery(line) || line.starts_with("ZR_GetFWVersion ") ||
         line.starts_with("ZR_CheckLoadBinFileMatch ") || line.starts_with("ZR_Inquiry ");
}

class ScanOutcomeTest : public DeviceTest, public ::testing::WithParamInterface<ScanCase> {
 protected:
  void Check() {
    const ScanCase& scanCase = GetParam();
    WriteWorld(scanCase.world);
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_TRUE(
        Shows({{scanCase.lines[0], scanCase.lines[1], scanCase.lines[2]}, {scanCase.button}}));
    ASSERT_EQ(log_.Count(IsDeviceListCall), 1u) << log_.Dump();
    if (scanCase.forbiddenCall) {
      EXPECT_EQ(log_.Count(scanCase.forbiddenCall), 0u) << "a call the scan must not make\n"
                                                        << log_.Dump();
    }
    ExpectOrderlyEnd();
  }
};

TEST_P(ScanOutcomeTest, ShowsLinesAndButtonAndMakesOnlyTheCallsNeeded) { Check(); }

const ScanCase DeviceCases[] = {
    {"NoDevice", "# nothing attached\n", {NoDevice1, NoDevice2, ""}, "Exit", IsPerDeviceCall},
    {"TwoDevices",
     "[device]\n[device]\n",
     {Multiple1, Multiple2, Multiple3},
     "Exit",
     IsPerDeviceCall},
    {"UnsupportedChip",
     "[device]\nchip-type = 12\n",
     {NoDevice1, NoDevice2, "Unsupported Chip ID!"},
     "Exit",
     IsQueryAfterChipType},
    {"UpToDate",
     "[device]\nversion = 00.01.01.07\n",
     {"", DefaultIdentity, UpToDate},
     "Exit",
     nullptr},
    // There is one right version: a newer one is offered the update as well.
    {"NewerVersion",
     "[device]\nversion = 00.01.01.08\n",
     {"", DefaultIdentity, UpdateRequired},
     "Update",
     nullptr},
};
INSTANTIATE_TEST_SUITE_P(Devices, ScanOutcomeTest, ::testing::ValuesIn(DeviceCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Nonsense from the library (counts, missing terminators, odd identification bytes) ends in
// one of the ordinary outcomes, and the program goes on answering.
class LibraryNonsenseTest : public ScanOutcomeTest {};

TEST_P(LibraryNonsenseTest, EndsInAnOrdinaryOutcome) { Check(); }

const ScanCase NonsenseCases[] = {
    {"CountAboveSlots",
     "[library]\ndevice-count = 17\n[device]\n",
     {Multiple1, Multiple2, Multiple3},
     "Exit",
     IsPerDeviceCall},
    {"NegativeCount",
     "[library]\ndevice-count = -3\n[device]\n",
     {NoDevice1, NoDevice2, ""},
     "Exit",
     IsPerDeviceCall},
    {"UnterminatedPath",
     "[library]\nunterminated-paths = yes\n[device]\n",
     {NoDevice1, NoDevice2, ""},
     "Exit",
     IsPerDeviceCall},
    // Only the first 11 characters count, so the missing terminator is never looked for.
    {"UnterminatedVersion",
     "[library]\nunterminated-version = yes\n[device]\nversion = 00.01.01.07\n",
     {"", DefaultIdentity, UpToDate},
     "Exit",
     nullptr},
    // Bytes 8-31: 01 20 "A&B" 07 "C" 20 "D&&E" 20 20 1F 09, then blanks. Blanks and control
    // bytes go at both ends and stay inside; "&" is text (the panel's own drawing underlines).
    {"InquiryWithControlBytes",
     "[library]\ninquiry-hex = 00 80 06 02 1F 00 00 00  01 20 41 26 42 07 43 20  "
     "44 26 26 45 20 20 1F 09  20 20 20 20 20 20 20 20  30 30 30 31\n[device]\n",
     {"",
      "A&B\x07"
      "C D&&E",
      UpdateRequired},
     "Update",
     nullptr},
    // The paths are read from the program's own buffers, not through the array of pointers
    // to them, which this library overwrites with NULL and junk after writing the paths.
    {"SlotPointersOverwritten",
     "[library]\noverwrite-slot-pointers = yes\n[device]\n",
     {"", DefaultIdentity, UpdateRequired},
     "Update",
     nullptr},
    // Fewer bytes than asked for, with a NUL inside the identification: the text ends there.
    {"ShortInquiryWithNul",
     "[library]\ninquiry-hex = 00 80 06 02 1F 00 00 00  20 5A 00 43 44\n[device]\n",
     {"", "Z", UpdateRequired},
     "Update",
     nullptr},
};
INSTANTIATE_TEST_SUITE_P(Library, LibraryNonsenseTest, ::testing::ValuesIn(NonsenseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each call the scan makes, made to fail, and the out-values it reads, made absurd. A result the
// program does not look at changes nothing; every other case ends in its ordinary outcome.
class LibraryFaultTest : public ScanOutcomeTest {};

TEST_P(LibraryFaultTest, EndsInAnOrdinaryOutcome) { Check(); }

const ScanCase FaultCases[] = {
    {"SettersFail",
     "[library]\nsetter-result = 0\n[device]\n",
     {"", DefaultIdentity, UpdateRequired},
     "Update",
     nullptr},
    {"DeviceListFails",
     "[library]\ndevice-list-result = 0\n[device]\n",
     {"", DefaultIdentity, UpdateRequired},
     "Update",
     nullptr},
    {"ChipTypeFails",
     "[device]\nchip-type-result = 0\n",
     {"", DefaultIdentity, UpdateRequired},
     "Update",
     nullptr},
    {"ChipTypeNegative",
     "[device]\nchip-type = -13\n",
     {NoDevice1, NoDevice2, "Unsupported Chip ID!"},
     "Exit",
     IsQueryAfterChipType},
    {"ChipTypeHuge",
     "[device]\nchip-type = 2147483647\n",
     {NoDevice1, NoDevice2, "Unsupported Chip ID!"},
     "Exit",
     IsQueryAfterChipType},
    {"RunningModeFails",
     "[device]\nrunning-mode-result = 0\n",
     {"", DefaultIdentity, UpdateRequired},
     "Update",
     nullptr},
    {"RunningModeAbsurd",
     "[device]\nrunning-mode = -2147483648\n",
     {NoDevice1, NoDevice2, "NOT support internal code!"},
     "Exit",
     nullptr},
    {"VersionFails",
     "[device]\nversion-result = 0\n",
     {NoDevice1, NoDevice2, "Get F/W version failed!"},
     "Exit",
     nullptr},
    {"VersionEmpty",
     "[device]\nversion =\n",
     {"", DefaultIdentity, UpdateRequired},
     "Update",
     nullptr},
    {"ImageCheckFails",
     "[device]\nimage-check-result = 0\n",
     {NoDevice1, NoDevice2, "F/W bin file is not matched with current device!"},
     "Exit",
     nullptr},
    {"InquiryFails",
     "[device]\ninquiry-result = 0\n",
     {NoDevice1, NoDevice2, "Get device information failed!"},
     "Exit",
     nullptr},
    {"InquiryAllBlanks",
     "[device]\nvendor =\nproduct =\n",
     {"", "", UpdateRequired},
     "Update",
     nullptr},
};
INSTANTIATE_TEST_SUITE_P(Library, LibraryFaultTest, ::testing::ValuesIn(FaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- keyboard focus ----------------------------------------------------------------------------

// The control of the program's window thread that has the keyboard focus.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// Activation puts the focus on the first offered button; a scan, which hides both buttons first,
// leaves no button with it until the window is activated again.
TEST_F(DeviceTest, FocusGoesToTheOfferedButtonOnActivationOnly) {
  WriteWorld("[device]\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  HWND update = FindDescendantById(main_, app::WindowId(app::ControlId::UpdateBtn));
  HWND exit = FindDescendantById(main_, app::WindowId(app::ControlId::ExitBtn));
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(main_) == update; }, ScreenTimeout))
      << "focus on " << FocusOf(main_);

  ASSERT_TRUE(Usbsim("set 1 version=00.01.01.07"));
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpToDate}, {"Exit"}}));
  EXPECT_EQ(FocusOf(main_), main_) << "a button kept or took the focus through the scan";

  DWORD_PTR ignored = 0;
  ASSERT_TRUE(SendMessageTimeoutA(main_, WM_ACTIVATE, WA_ACTIVE, 0, SMTO_NORMAL, 5000, &ignored));
  EXPECT_EQ(FocusOf(main_), exit);
  ExpectOrderlyEnd();
}

// The status lines hold their texts without the heap up to a length none of the program's own
// reaches; a longer text, sent from outside, is taken, kept, compared and drawn whole all the same.
TEST_F(DeviceTest, StatusLineTakesAndDrawsATextLongerThanItsOwnBuffer) {
  WriteWorld("[device]\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  HWND line3 = FindDescendantById(main_, app::WindowId(app::ControlId::RescanStatus3Panel));
  ASSERT_NE(line3, nullptr);

  const std::string longText = std::string(1000, 'W') + " end";
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutA(line3, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(longText.c_str()),
                                  SMTO_NORMAL, 5000, &result));
  EXPECT_EQ(result, static_cast<DWORD_PTR>(TRUE));
  EXPECT_EQ(WindowText(line3), longText);
  // The same text again is taken as set, without a change.
  ASSERT_TRUE(SendMessageTimeoutA(line3, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(longText.c_str()),
                                  SMTO_NORMAL, 5000, &result));
  EXPECT_EQ(result, static_cast<DWORD_PTR>(TRUE));
  // Painted at once: the panels' paint handlers run inside this call.
  RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  EXPECT_EQ(WindowText(line3), longText);

  // A rescan puts the program's own, short, line back.
  const std::size_t scans = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  ASSERT_TRUE(NextScan(scans, ScreenTimeout).has_value()) << log_.Dump();
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ExpectOrderlyEnd();
}

// ---- the update run ----------------------------------------------------------------------------

// The settings-table call's result is not looked at; a programming call's non-zero result is
// success, whatever its value.
TEST_F(DeviceTest, UpdateCallsResultsAreReadAsTheLibraryDefinesThem) {
  WriteWorld(
      "[library]\nsettings-table-result = 0\n[device]\nprogram-ms = 100\nprogram-result = -1\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  EXPECT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}));
  ExpectOrderlyEnd();
}

// Clicks sent to buttons that are disabled or hidden (as automation clients send them, with
// BM_CLICK) during programming neither program the device again nor start a scan.
TEST_F(DeviceTest, ClicksOnDisabledOrHiddenButtonsDuringProgrammingAreIgnored) {
  WriteWorld("[device]\nprogram-ms = 1500\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto begin = log_.WaitFor(IsProgrammingBegin, 0, ScreenTimeout);
  ASSERT_TRUE(begin.has_value()) << log_.Dump();
  // (A click posted to Exit now would count: it is handled after the run, when Exit is offered.)
  for (int id :
       {app::WindowId(app::ControlId::UpdateBtn), app::WindowId(app::ControlId::RefreshBtn)}) {
    PostClick(FindDescendantById(main_, id));
  }
  ASSERT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}));
  ExpectNoScanFrom(*begin, "after clicks during the update");
  EXPECT_EQ(log_.Count(IsProgrammingBegin), 1u) << "the device was programmed again\n"
                                                << log_.Dump();
  // The hidden Refresh button stays deaf afterwards too.
  PostClick(FindDescendantById(main_, app::WindowId(app::ControlId::RefreshBtn)));
  ExpectNoScanFrom(*begin, "after a click on the hidden Refresh button");
  ExpectOrderlyEnd();
}

TEST_F(DeviceTest, FailedProgrammingShowsUpdateFailAndOffersExit) {
  WriteWorld("[device]\nprogram-ms = 200\nprogram-succeeds = no\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  EXPECT_TRUE(Shows({{"", UpdateFailed, ""}, {"Exit"}}));
  const auto end = log_.WaitFor(IsProgrammingEnd, 0, 0ms);
  ASSERT_TRUE(end.has_value()) << log_.Dump();
  EXPECT_NE(log_.Entries()[*end].text.find(" -> 0 "), std::string::npos) << log_.Dump();
  ExpectOrderlyEnd();
}

// Device changes that reach the program while it programs (it takes them in the yield after
// the programming call) start no rescan: the result stays up.
TEST_F(DeviceTest, DeviceChangeDuringProgrammingStartsNoRescan) {
  // Long enough for usbsim to start under Wine on a busy machine while programming runs.
  WriteWorld("[device]\nprogram-ms = 4000\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto begin = log_.WaitFor(IsProgrammingBegin, 0, ScreenTimeout);
  ASSERT_TRUE(begin.has_value()) << log_.Dump();

  ASSERT_TRUE(Usbsim("notify nodes"));
  ASSERT_TRUE(PostMessageA(main_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
  ASSERT_EQ(log_.Count(IsProgrammingEnd, *begin), 0u)
      << "programming ended before the changes were sent; make it last longer";

  ASSERT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}));
  ExpectNoScanFrom(*begin, "after changes during the update");
  EXPECT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}, 0ms));
  ExpectOrderlyEnd();
}

// Unplugged while it is being programmed: the update fails, and the announcements of the
// unplugging (taken once programming is over) start no rescan.
TEST_F(DeviceTest, UnplugDuringProgrammingFailsWithoutRescan) {
  WriteWorld("[device]\nprogram-ms = 3000\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto begin = log_.WaitFor(IsProgrammingBegin, 0, ScreenTimeout);
  ASSERT_TRUE(begin.has_value()) << log_.Dump();

  ASSERT_TRUE(Usbsim("unplug"));
  ASSERT_EQ(log_.Count(IsProgrammingEnd, *begin), 0u)
      << "programming ended before the unplugging; make it last longer";

  EXPECT_TRUE(Shows({{"", UpdateFailed, ""}, {"Exit"}}));
  const auto end = log_.WaitFor(IsProgrammingEnd, *begin, 0ms);
  ASSERT_TRUE(end.has_value());
  EXPECT_NE(log_.Entries()[*end].text.find("device-removed"), std::string::npos) << log_.Dump();
  ExpectNoScanFrom(*begin, "after the unplugging during the update");
  ExpectOrderlyEnd();
}

// A rescan still pending when Update is clicked is dropped: the run is not interrupted by a scan,
// and its result is what stays up.
TEST_F(DeviceTest, UpdateCancelsPendingRescan) {
  WriteWorld("[device]\nprogram-ms = 1000\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  HWND update = app::OfferedButton(main_, "Update");
  ASSERT_NE(update, nullptr);

  const std::size_t mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));  // returns once it was handled
  const auto changed = Clock::now();  // the rescan timer started before this
  PostClick(update);
  const auto clicked = Clock::now();
  ASSERT_LT(clicked - changed, 100ms) << "the click came too late to find the rescan pending";

  const auto begin = log_.WaitFor(IsProgrammingBegin, mark, ScreenTimeout);
  ASSERT_TRUE(begin.has_value()) << log_.Dump();
  EXPECT_EQ(log_.Count(IsDeviceListCall, mark, *begin), 0u)
      << "the pending rescan ran before programming\n"
      << log_.Dump();
  ASSERT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}));
  ExpectNoScanFrom(mark, "although the update should have dropped the pending rescan");
  EXPECT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}, 0ms));
  ExpectOrderlyEnd();
}

// While the command line programs the device, the window touches nothing in the library: an
// Update click (the lock taken between its scan and the click) and a device change both show that
// another program is busy, never a failure nor advice to unplug, and offer Exit; once the command
// line is done the window looks again by itself, without a device change.
TEST_F(DeviceTest, WindowWaitsWhileTheCommandLineProgramsAndLooksAgainAfter) {
  WriteWorld("[device]\nprogram-ms = 4000\n");
  dir_.CopyIn(BinDir() / "flashwright-cli.exe");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));

  Process cli = Process::Launch(dir_.Path() / "flashwright-cli.exe", dir_.Path(),
                                {{"FLASHWRIGHT_SIM_SCENARIO", World().string()},
                                 {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()}},
                                "update", {dir_.Path() / "cli.out", dir_.Path() / "cli.err"});
  const auto begin = log_.WaitFor(IsProgrammingBegin, 0, ScreenTimeout);
  ASSERT_TRUE(begin.has_value()) << "the command line did not start programming\n" << log_.Dump();

  const std::array<std::string, 3> busy = {"Another Flashwright program is updating a device.",
                                           "DO NOT disconnect the device.",
                                           "This window checks again when it is done."};
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  EXPECT_TRUE(Shows({busy, {"Exit"}}));
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  EXPECT_TRUE(Shows({busy, {"Exit"}}));
  const auto end = log_.WaitFor(IsProgrammingEnd, *begin, 10s);
  ASSERT_TRUE(end.has_value()) << log_.Dump();
  EXPECT_EQ(log_.Count([](const std::string& line) { return !line.starts_with(ProgrammingCall); },
                       *begin, *end),
            0u)
      << "the window called the library while the device was programmed\n"
      << log_.Dump();
  ASSERT_EQ(cli.WaitForExit(10s).value_or(0xDEAD), 3010u);
  const auto ended = Clock::now();

  const auto scan = NextScan(*end, 3s);
  ASSERT_TRUE(scan.has_value()) << "the window did not look again\n" << log_.Dump();
  EXPECT_LT(std::chrono::duration_cast<Millis>(log_.Entries()[*scan].seen - ended).count(), 1500)
      << "the window looked again too late";
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ExpectOrderlyEnd();
}

// A window started while someone squats on the lock's first global name (an event, or a mutex
// that denies everyone) keeps its lock's place for its life. Once the squatter is gone, a command
// line started while the window programs must still meet it: busy, and never a second programming
// call inside the first.
TEST_F(DeviceTest, ASquatterGoneBeforeTheClickSplitsNoLockWithTheCommandLine) {
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
  dir_.CopyIn(BinDir() / "flashwright-cli.exe");
  WriteWorld("[device]\nprogram-ms = 4000\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.squatter);
    ForgetAttemptRecords();
    platform::win32::UniqueHandle squatter(c.squat());
    ASSERT_TRUE(squatter);
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
    squatter.Reset();
    const std::size_t from = log_.Size();
    ASSERT_NO_FATAL_FAILURE(Click("Update"));
    const auto begin = log_.WaitFor(IsProgrammingBegin, from, ScreenTimeout);
    ASSERT_TRUE(begin.has_value()) << "the window did not start programming\n" << log_.Dump();
    Process cli = Process::Launch(dir_.Path() / "flashwright-cli.exe", dir_.Path(),
                                  {{"FLASHWRIGHT_SIM_SCENARIO", World().string()},
                                   {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()}},
                                  "update", {dir_.Path() / "cli.out", dir_.Path() / "cli.err"});
    EXPECT_EQ(cli.WaitForExit(10s).value_or(0xDEAD), 1618u) << "the command line was not busy";
    EXPECT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}, 10s));
    EXPECT_EQ(log_.Count(IsProgrammingBegin, from, log_.Size()), 1u)
        << "two programs programmed the device\n"
        << log_.Dump();
    ExpectOrderlyEnd();
  }
}

// A user who holds the shared log locked keeps neither the result nor Exit from the window: the
// window shows them before it writes its line, within a second of programming's end (the line
// waits for the log at most 2 s, after the result).
TEST_F(DeviceTest, ALogHeldByAnotherProgramDelaysNoResult) {
  WriteWorld("[device]\nprogram-ms = 300\n");
  dir_.CopyIn(BinDir() / "flashwright-cli.exe");
  dir_.CopyIn(BinDir() / "log-holder.exe");
  // A run of the command line makes the data folder and the log, as any first run would.
  Process status =
      Process::Launch(dir_.Path() / "flashwright-cli.exe", dir_.Path(),
                      {{"FLASHWRIGHT_SIM_SCENARIO", World().string()},
                       {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "status-sim.log").string()}},
                      "status", {dir_.Path() / "status.out", dir_.Path() / "status.err"});
  ASSERT_TRUE(status.WaitForExit(10s).has_value());
  ASSERT_TRUE(std::filesystem::exists(SharedLogFile()));
  const std::filesystem::path holderOut = dir_.Path() / "holder.txt";
  Process holder = Process::Launch(dir_.Path() / "log-holder.exe", dir_.Path(), {},
                                   "\"" + SharedLogFile().string() + "\" lock 60", {holderOut, {}});
  auto held = [&] {
    std::string first;
    std::ifstream(holderOut) >> first;
    return first == "held";
  };
  ASSERT_TRUE(WaitUntil(held, ScreenTimeout)) << "the holder did not hold the log";

  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto end = log_.WaitFor(IsProgrammingEnd, 0, ScreenTimeout);
  ASSERT_TRUE(end.has_value()) << log_.Dump();
  // Read from the window system's copy: the window may be waiting for the log by then.
  EXPECT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}, 1s, TextSource::Stored));
  holder.Kill();
  ExpectOrderlyEnd();
}

// ---- a library that handles messages inside its calls, or faults
// ---------------------------------

bool IsNested(const std::string& line) { return line.find(" nested") != std::string::npos; }
bool IsListPump(const std::string& line) { return line.starts_with("ZR_GetDeviceList pump "); }

// A library that runs its own message loop in the device-list call: a change and a rescan timer
// delivered there are taken after the scan (one more scan each time), never inside it; the first
// scan, made during construction, is no exception.
TEST_F(DeviceTest, ChangesInsideAPumpingListCallRescanOnceAfterIt) {
  WriteWorld("[library]\npump = ZR_GetDeviceList:800\n[device]\nversion = 00.01.01.07\n");
  Launch();
  auto deliverInsideScan = [&](std::size_t from) {
    const auto pumping = log_.WaitFor(IsListPump, from, StartTimeout);
    ASSERT_TRUE(pumping.has_value()) << log_.Dump();
    HWND form = WaitForTopLevelWindow({program_.Id(), MainClass, std::nullopt, false},
                                      ScreenTimeout, &program_);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(PostMessageA(form, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    ASSERT_TRUE(PostMessageA(form, WM_TIMER, 101, 0));
    ASSERT_EQ(log_.Count(IsDeviceListCall, *pumping), 0u) << "the pump ended too soon\n"
                                                          << log_.Dump();
  };
  ASSERT_NO_FATAL_FAILURE(deliverInsideScan(0));
  main_ = WaitForTopLevelWindow({program_.Id(), MainClass, FinalCaption, true}, StartTimeout,
                                &program_);
  ASSERT_NE(main_, nullptr) << log_.Dump();
  const auto second = NextScan(0, ScreenTimeout);  // the first scan's result line
  ASSERT_TRUE(second.has_value());
  const auto rescan = NextScan(*second + 1, ScreenTimeout);
  ASSERT_TRUE(rescan.has_value()) << "the change during the first scan was lost\n" << log_.Dump();

  // The same inside a rescan: the pump of the next scan gets a change and a timer.
  const std::size_t mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  ASSERT_NO_FATAL_FAILURE(deliverInsideScan(mark));
  const auto outer = NextScan(mark, ScreenTimeout);
  ASSERT_TRUE(outer.has_value()) << log_.Dump();
  const auto after = NextScan(*outer + 1, ScreenTimeout);
  ASSERT_TRUE(after.has_value()) << "no scan after the one that pumped\n" << log_.Dump();
  ExpectNoScanFrom(*after + 1, "a second time for the changes inside one scan");
  EXPECT_EQ(log_.Count(IsNested), 0u) << "a library call started inside another\n" << log_.Dump();
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpToDate}, {"Exit"}}));
  ExpectOrderlyEnd();
}

// Clicks and a close request delivered while the programming call runs its own message loop: one
// programming call, the run completes, and only then does the program end (code 0), releasing
// the library after the call has returned.
TEST_F(DeviceTest, CloseInsideAPumpingProgrammingCallWaitsForTheRun) {
  WriteWorld(
      "[library]\npump = ZR_FWUpdateProgrammingNoCustomizedSetting:1500\n"
      "[device]\nprogram-ms = 0\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto pumping =
      log_.WaitFor(StartsWith(std::string(ProgrammingCall) + "pump "), 0, ScreenTimeout);
  ASSERT_TRUE(pumping.has_value()) << log_.Dump();
  PostClick(FindDescendantById(main_, app::WindowId(app::ControlId::UpdateBtn)));
  PostClick(FindDescendantById(main_, app::WindowId(app::ControlId::ExitBtn)));
  ASSERT_TRUE(PostMessageA(main_, WM_CLOSE, 0, 0));
  ASSERT_TRUE(PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0));

  const auto code = program_.WaitForExit(ExitTimeout);
  ASSERT_TRUE(code.has_value()) << "program still running\n" << log_.Dump();
  EXPECT_EQ(*code, 0u);
  log_.Refresh();
  EXPECT_EQ(log_.Count(IsProgrammingBegin), 1u) << log_.Dump();
  const auto end = log_.WaitFor(IsProgrammingEnd, *pumping, 0ms);
  ASSERT_TRUE(end.has_value()) << "the run was cut short\n" << log_.Dump();
  EXPECT_NE(log_.Entries()[*end].text.find(" -> 1 "), std::string::npos) << log_.Dump();
  const auto released = log_.WaitFor(StartsWith("unload freelibrary"), *end, 0ms);
  EXPECT_TRUE(released.has_value()) << "library not released after the call\n" << log_.Dump();
  EXPECT_EQ(log_.Count(IsNested), 0u) << log_.Dump();
}

// While a device is programmed the window asks Windows to wait before a session ends (its
// answer to WM_QUERYENDSESSION is no, even inside a library call that handles messages), and lets
// the session end again once the run is over.
TEST_F(DeviceTest, SessionEndIsRefusedWhileProgrammingOnly) {
  WriteWorld(
      "[library]\npump = ZR_FWUpdateProgrammingNoCustomizedSetting:1500\n"
      "[device]\nprogram-ms = 0\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  const auto mayEnd = [&] {
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutA(main_, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 5000, &answer));
    return answer != FALSE;
  };
  EXPECT_TRUE(mayEnd()) << "refused before any programming";
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto pumping =
      log_.WaitFor(StartsWith(std::string(ProgrammingCall) + "pump "), 0, ScreenTimeout);
  ASSERT_TRUE(pumping.has_value()) << log_.Dump();
  EXPECT_FALSE(mayEnd()) << "allowed while the device is programmed";
  ASSERT_TRUE(Shows({{Updated1, Updated2, ""}, {"Exit"}}));
  EXPECT_TRUE(mayEnd()) << "still refused after the run";
  ExpectOrderlyEnd();
}

constexpr char FaultPrefix[] = "The update library failed in ";

// The error box for a library fault: the application's title, the entry point and the fault.
void ExpectFaultBox(const MessageBoxInfo& box, const std::string& entryPoint) {
  EXPECT_EQ(box.caption, "Flashwright");
  const std::string start = FaultPrefix + entryPoint + ": access violation at address ";
  EXPECT_TRUE(box.text.starts_with(start) && box.text.ends_with(".")) << "box text: " << box.text;
}

TEST_F(DeviceTest, FaultInTheFirstScanShowsTheBoxAndEndsTheProgram) {
  WriteWorld("[library]\ncrash = ZR_GetChipType\n[device]\n");
  Launch();
  const Observation seen = ObserveUntilExit(program_, MainClass, StartTimeout + ExitTimeout);
  ASSERT_EQ(seen.messageBoxes.size(), 1u) << log_.Dump();
  ExpectFaultBox(seen.messageBoxes.front(), "ZR_GetChipType");
  EXPECT_FALSE(seen.mainWindowVisible);
  ASSERT_TRUE(seen.exitCode.has_value());
  EXPECT_EQ(*seen.exitCode, 0u);
  const auto lines = ReadLines(dir_.Path() / "sim.log");
  EXPECT_FALSE(lines.empty() || lines.back() != "unload freelibrary") << Join(lines);
}

TEST_F(DeviceTest, FaultInARescanShowsTheBoxThenNoDeviceAndRecovers) {
  WriteWorld("[device]\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_TRUE(Usbsim("set library crash=ZR_Inquiry"));
  const auto box = WaitForMessageBox(program_, ScreenTimeout);
  ASSERT_TRUE(box.has_value()) << log_.Dump();
  ExpectFaultBox(*box, "ZR_Inquiry");
  ASSERT_TRUE(DismissMessageBox(box->window));
  EXPECT_TRUE(Shows({{NoDevice1, NoDevice2, ""}, {"Exit"}}));

  // The library is called again at the next change.
  ASSERT_TRUE(Usbsim("set library crash="));
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ExpectOrderlyEnd();
}

TEST_F(DeviceTest, FaultWhileProgrammingShowsTheBoxThenUpdateFail) {
  WriteWorld("[library]\ncrash = ZR_FWUpdateProgrammingNoCustomizedSetting\n[device]\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  const auto box = WaitForMessageBox(program_, ScreenTimeout);
  ASSERT_TRUE(box.has_value()) << log_.Dump();
  ExpectFaultBox(*box, "ZR_FWUpdateProgrammingNoCustomizedSetting");
  ASSERT_TRUE(DismissMessageBox(box->window));
  EXPECT_TRUE(Shows({{"", UpdateFailed, ""}, {"Exit"}}));
  // The update is over: changes rescan again.
  const std::size_t mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  EXPECT_TRUE(NextScan(mark, ScreenTimeout).has_value()) << log_.Dump();
  ExpectOrderlyEnd();
}

// A change that arrives inside a library call which then faults is taken once the fault's box
// has been dismissed: a device plugged meanwhile is noticed without another change.
TEST_F(DeviceTest, ChangeInsideAFaultingCallIsTakenAfterTheBox) {
  WriteWorld("[device]\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  const std::size_t mark = log_.Size();
  ASSERT_TRUE(Usbsim("set library pump=ZR_GetChipType:1500 crash=ZR_GetChipType"));
  const auto pumping = log_.WaitFor(StartsWith("ZR_GetChipType pump "), mark, ScreenTimeout);
  ASSERT_TRUE(pumping.has_value()) << log_.Dump();
  ASSERT_TRUE(Usbsim("set library pump= crash=", false));
  ASSERT_TRUE(Usbsim("plug", false));
  ASSERT_TRUE(PostMessageA(main_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
  const auto box = WaitForMessageBox(program_, ScreenTimeout);
  ASSERT_TRUE(box.has_value()) << log_.Dump();
  ExpectFaultBox(*box, "ZR_GetChipType");
  ASSERT_TRUE(DismissMessageBox(box->window));
  EXPECT_TRUE(Shows({{Multiple1, Multiple2, Multiple3}, {"Exit"}}));
  ExpectOrderlyEnd();
}

// What a compiled library raises besides access violations: its own C++ exception, which nobody
// may "continue", and a stack overflow. Each is shown by name in the error box and survived, as
// often as it comes: the second overflow needs the stack's guard page back.
TEST_F(DeviceTest, CppExceptionsAndStackOverflowsInRescansAreNamedAndSurvived) {
  WriteWorld("[device]\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  const struct {
    const char* keys;
    const char* entryPoint;
    const char* what;
  } faults[] = {
      {"throw=ZR_GetChipType", "ZR_GetChipType", "C++ exception (E06D7363)"},
      {"throw=ZR_Inquiry", "ZR_Inquiry", "C++ exception (E06D7363)"},
      {"throw= overflow=ZR_GetFWVersion", "ZR_GetFWVersion", "stack overflow"},
      {"overflow=ZR_GetFWVersion", "ZR_GetFWVersion", "stack overflow"},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.keys);
    ASSERT_TRUE(Usbsim(std::string("set library ") + fault.keys));
    const auto box = WaitForMessageBox(program_, ScreenTimeout);
    ASSERT_TRUE(box.has_value()) << "no error box; running: " << program_.Running() << "\n"
                                 << log_.Dump();
    EXPECT_EQ(box->caption, "Flashwright");
    const std::string start =
        std::string(FaultPrefix) + fault.entryPoint + ": " + fault.what + " at address ";
    EXPECT_TRUE(box->text.starts_with(start)) << "box text: " << box->text;
    ASSERT_TRUE(DismissMessageBox(box->window));
    ASSERT_TRUE(Shows({{NoDevice1, NoDevice2, ""}, {"Exit"}}));
  }
  ASSERT_TRUE(Usbsim("set library overflow="));
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ExpectOrderlyEnd();
}

// ---- device-change monitoring ------------------------------------------------------------------

// An arrival alone is ignored (the node change that follows it is what counts); a burst of
// changes gives one scan, 200 ms after the last of them.
TEST_F(DeviceTest, BurstOfChangesGivesOneScanAfterTheLast) {
  WriteWorld("[device]\nversion = 00.01.01.07\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpToDate}, {"Exit"}}));

  std::size_t mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVICEARRIVAL));
  ExpectNoScanFrom(mark, "after an arrival alone");

  // Three changes 80 ms apart: a timer that was not restarted would fire 40 ms after the third.
  // Each send returns once the change was handled; the widest gap between two handlings is at
  // most from just before one send to just after the next.
  mark = log_.Size();
  const WPARAM burst[] = {DBT_DEVNODES_CHANGED, DBT_DEVICEREMOVECOMPLETE, DBT_DEVNODES_CHANGED};
  Millis widestGap{0};
  Clock::time_point previousSent{};
  for (std::size_t i = 0; i < std::size(burst); ++i) {
    if (i > 0) std::this_thread::sleep_for(80ms);
    const auto sent = Clock::now();
    ASSERT_TRUE(SendDeviceChange(main_, burst[i]));
    if (i > 0) {
      widestGap =
          std::max(widestGap, std::chrono::duration_cast<Millis>(Clock::now() - previousSent));
    }
    previousSent = sent;
  }
  const auto last = Clock::now();
  if (widestGap >= 180ms) {
    GTEST_SKIP() << "the machine stalled " << widestGap.count()
                 << " ms inside the burst; the debounce cannot be told apart";
  }
  EXPECT_EQ(log_.Count(IsDeviceListCall, mark), 0u) << "scan inside the burst\n" << log_.Dump();

  const auto scan = NextScan(mark, ScreenTimeout);
  ASSERT_TRUE(scan.has_value()) << "no scan after the burst\n" << log_.Dump();
  const auto delay = std::chrono::duration_cast<Millis>(log_.Entries()[*scan].seen - last);
  EXPECT_GE(delay.count(), 150) << "scan too soon after the last change";
  EXPECT_LT(delay.count(), 2000) << "scan too late after the last change";
  ExpectNoScanFrom(*scan + 1, "a second time for one burst");
  ExpectOrderlyEnd();
}

// After an accepted change the program asks the first top-level window titled "Message" (any
// letter case, any program) to close; other titles are left alone.
TEST_F(DeviceTest, ChangeClosesWindowTitledMessageOnly) {
  WriteWorld("[device]\nversion = 00.01.01.07\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  TitledWindow message("message");
  TitledWindow messages("Messages");

  const std::size_t mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  EXPECT_TRUE(WaitUntil([&] { return !message.Exists(); }, 2s))
      << "the window titled \"message\" is still open";
  ASSERT_TRUE(NextScan(mark, ScreenTimeout).has_value()) << log_.Dump();
  EXPECT_TRUE(messages.Exists());
  EXPECT_TRUE(messages.CloseRequests().empty()) << "\"Messages\" was asked to close";
  ExpectOrderlyEnd();
}

// Named Message.exe, the program's own application window is titled "Message": a change must not
// make it close itself.
TEST_F(DeviceTest, RenamedMessageDoesNotCloseItself) {
  WriteWorld("[device]\nversion = 00.01.01.07\n");
  dir_.CopyIn(BinDir() / ProgramName, "Message.exe");
  ASSERT_NO_FATAL_FAILURE(Start("Message.exe"));
  ASSERT_EQ(TextOr(GetWindow(main_, GW_OWNER)), "Message");
  const std::size_t mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  ASSERT_TRUE(NextScan(mark, ScreenTimeout).has_value()) << log_.Dump();
  EXPECT_FALSE(program_.WaitForExit(QuietPeriod).has_value()) << "the program closed itself";
  ExpectOrderlyEnd();
}

// The library's own note titled "Message", shown in the program's process, is asked to close at
// each accepted change; the program's own windows titled so are spared: a renamed Message.exe's
// application window and its error box, up in front of the note.
TEST_F(DeviceTest, ChangeClosesTheLibrarysNoteButSparesTheProgramsOwnWindows) {
  WriteWorld(
      "[library]\nmessage-window = ZR_GetDeviceList\n"
      "crash = ZR_FWUpdateProgrammingNoCustomizedSetting\n[device]\n");
  dir_.CopyIn(BinDir() / ProgramName, "Message.exe");
  ASSERT_NO_FATAL_FAILURE(Start("Message.exe"));
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  const auto noteClosed = StartsWith("message-window WM_CLOSE");

  std::size_t mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  EXPECT_TRUE(log_.WaitFor(noteClosed, mark, ScreenTimeout).has_value())
      << "the library's note was not asked to close\n"
      << log_.Dump();
  ASSERT_TRUE(NextScan(mark, ScreenTimeout).has_value()) << log_.Dump();  // shows a new note
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));

  // Programming faults: the error box, titled "Message" too, stays up while a change arrives.
  ASSERT_NO_FATAL_FAILURE(Click("Update"));
  std::optional<MessageBoxInfo> box;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (HWND window : MessageBoxesOf(program_.Id())) {
          if (!ReadMessageBox(window).text.empty()) box = ReadMessageBox(window);
        }
        return box.has_value();
      },
      ScreenTimeout))
      << log_.Dump();
  ASSERT_EQ(box->caption, "Message");
  mark = log_.Size();
  ASSERT_TRUE(SendDeviceChange(main_, DBT_DEVNODES_CHANGED));
  EXPECT_TRUE(log_.WaitFor(noteClosed, mark, ScreenTimeout).has_value()) << log_.Dump();
  EXPECT_TRUE(IsWindow(box->window)) << "the error box was closed";
  ASSERT_TRUE(DismissMessageBox(box->window));
  EXPECT_FALSE(program_.WaitForExit(QuietPeriod).has_value()) << "the program closed itself";
  ExpectOrderlyEnd();
}

// The library shows its note and waits inside a call until it is closed, as a modal box does.
// A change arriving meanwhile closes the note at once (else the call waits for the note and the
// note for the call); the rescan it asks for runs only once the call has returned.
TEST_F(DeviceTest, ChangeClosesANoteTheLibraryWaitsForInsideACall) {
  WriteWorld("[device]\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  const std::size_t mark = log_.Size();
  ASSERT_TRUE(Usbsim("set library modal-message=ZR_GetChipType:20000"));
  const auto waiting =
      log_.WaitFor(StartsWith("ZR_GetChipType modal-message ms="), mark, ScreenTimeout);
  ASSERT_TRUE(waiting.has_value()) << log_.Dump();
  ASSERT_TRUE(Usbsim("set library modal-message=", false));

  // Posted: only a loop that runs, the library's own here, takes it.
  const auto posted = Clock::now();
  ASSERT_TRUE(PostMessageA(main_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
  const auto closed = log_.WaitFor(StartsWith("message-window WM_CLOSE"), *waiting, ScreenTimeout);
  ASSERT_TRUE(closed.has_value()) << "the note was not asked to close while the call waited\n"
                                  << log_.Dump();
  const auto delay =
      std::chrono::duration_cast<Millis>(log_.Entries()[*closed].seen - posted).count();
  EXPECT_LT(delay, 1000) << "the note was closed only " << delay << " ms after the change";
  const auto returned =
      log_.WaitFor([](const std::string& line) { return line.starts_with("ZR_GetChipType path="); },
                   *closed, ScreenTimeout);
  ASSERT_TRUE(returned.has_value()) << log_.Dump();
  EXPECT_EQ(log_.Count(StartsWith("ZR_GetChipType modal-message closed"), *waiting, *returned), 1u)
      << log_.Dump();
  // The rescan comes after the waiting call (and the rest of its scan) and starts no call inside.
  EXPECT_EQ(log_.Count(IsDeviceListCall, *waiting, *returned), 0u) << log_.Dump();
  EXPECT_TRUE(NextScan(*returned, ScreenTimeout).has_value()) << log_.Dump();
  EXPECT_EQ(log_.Count(IsNested), 0u) << log_.Dump();
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpdateRequired}, {"Update"}}));
  ExpectOrderlyEnd();
}

// A hung window titled "Message" must not hang the program: it gives up on it after its wait,
// goes back to its message loop and still rescans. Sent messages are answered even during the
// wait, so what is timed is a posted one: a rescan timer queued right behind the change is only
// taken once the program's own loop runs again.
TEST_F(DeviceTest, HungWindowTitledMessageDelaysProgramByItsWaitOnly) {
  WriteWorld("[device]\nversion = 00.01.01.07\n");
  ASSERT_NO_FATAL_FAILURE(Start());
  TitledWindow hung("Message", TitledWindow::OnClose::Close, 10s);

  const std::size_t mark = log_.Size();
  const auto posted = Clock::now();
  ASSERT_TRUE(PostMessageA(main_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
  ASSERT_TRUE(PostMessageA(main_, WM_TIMER, 101, 0));
  const auto scan = NextScan(mark, 5s);
  ASSERT_TRUE(scan.has_value()) << "no rescan within 5 s: the loop never came back\n"
                                << log_.Dump();
  const auto delay =
      std::chrono::duration_cast<Millis>(log_.Entries()[*scan].seen - posted).count();
  EXPECT_GE(delay, 800) << "the program did not wait for the window it asked to close";
  EXPECT_LT(delay, 2500) << "the program waited that long for a hung window";
  EXPECT_TRUE(Shows({{"", DefaultIdentity, UpToDate}, {"Exit"}}));
  ExpectOrderlyEnd();
}

}  // namespace
}  // namespace e2e
