// End-to-end tests of start-up and shutdown: the real Flashwright.exe with the simulator library
// (or without it), each run in a directory of its own, driven through its windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "harness/AppWindow.h"
#include "harness/Driver.h"
#include "harness/Simulator.h"

namespace e2e {
namespace {

constexpr char ProgramName[] = "Flashwright.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
using app::ControlId;
using app::FinalCaption;
using app::MainClass;
using app::WindowId;
constexpr char BindingFailureText[] = "Initalize the API entries fail";
constexpr Millis StartTimeout = 20s;
constexpr Millis ExitTimeout = 20s;

std::filesystem::path BinDir() { return ExecutableDir(); }
std::filesystem::path MissingLastLibrary() {
  return BinDir().parent_path() / "variants" / "missing-last" / LibraryName;
}

// The simulator's settings for one run: its default world (no scenario named, whatever the
// calling environment says) and a call log in the run's own directory.
Process::Environment SimEnvironment(const std::filesystem::path& log) {
  return {{"FLASHWRIGHT_SIM_SCENARIO", ""}, {"FLASHWRIGHT_SIM_LOG", log.string()}};
}

// ---- binding failure ----------------------------------------------------------------------

// Runs the program from `appDir` in `workDir` and checks the whole binding-failure outcome over
// its lifetime: one "Error" box with the fixed text (answered with OK), the main window never
// shown, exit code 0.
void ExpectBindingFailure(const std::filesystem::path& appDir, const std::filesystem::path& workDir,
                          const Process::Environment& environment) {
  Process program = Process::Launch(appDir / ProgramName, workDir, environment);
  const Observation seen = ObserveUntilExit(program, MainClass, StartTimeout + ExitTimeout);
  ASSERT_EQ(seen.messageBoxes.size(), 1u) << [&] {
    std::string boxes;
    for (const auto& box : seen.messageBoxes) {
      boxes += "  \"" + box.caption + "\": \"" + box.text + "\"\n";
    }
    return "message boxes seen:\n" + boxes;
  }();
  EXPECT_EQ(seen.messageBoxes.front().caption, "Error");
  EXPECT_EQ(seen.messageBoxes.front().text, BindingFailureText);
  EXPECT_FALSE(seen.mainWindowVisible) << "main window shown despite the binding failure";
  ASSERT_TRUE(seen.exitCode.has_value()) << "program still running";
  EXPECT_EQ(*seen.exitCode, 0u);
}

TEST(BindingFailureTest, WithoutLibraryShowsOneErrorBoxAndEnds) {
  TempDir dir("nolib");
  dir.CopyIn(BinDir() / ProgramName);
  ExpectBindingFailure(dir.Path(), dir.Path(), SimEnvironment(dir.Path() / "sim.log"));
}

TEST(BindingFailureTest, LibraryMissingLastEntryPointIsRefused) {
  TempDir dir("missing-last");
  dir.CopyIn(BinDir() / ProgramName);
  dir.CopyIn(MissingLastLibrary());
  const auto log = dir.Path() / "sim.log";
  ExpectBindingFailure(dir.Path(), dir.Path(), SimEnvironment(log));
  // The refused library was loaded to be looked at, and must have been let go again.
  const auto lines = ReadLines(log);
  ASSERT_FALSE(lines.empty()) << "the library was never loaded";
  EXPECT_EQ(lines.front(), "load") << Join(lines);
  EXPECT_EQ(lines.back(), "unload freelibrary") << Join(lines);
}

// The program runs with administrator rights, so a library that is only in the current
// directory or on PATH must not be picked up: both count as missing.
TEST(BindingFailureTest, LibraryOnlyInWorkingDirectoryCountsAsMissing) {
  TempDir dir("cwd-lib");
  const auto appDir = dir.Path() / "app";
  const auto workDir = dir.Path() / "work";
  std::filesystem::create_directories(appDir);
  std::filesystem::create_directories(workDir);
  std::filesystem::copy_file(BinDir() / ProgramName, appDir / ProgramName);
  std::filesystem::copy_file(BinDir() / LibraryName, workDir / LibraryName);
  const auto log = dir.Path() / "sim.log";
  ExpectBindingFailure(appDir, workDir, SimEnvironment(log));
  EXPECT_TRUE(ReadLines(log).empty()) << "library in the working directory was loaded:\n"
                                      << Join(ReadLines(log));
}

TEST(BindingFailureTest, LibraryOnlyOnPathCountsAsMissing) {
  TempDir dir("path-lib");
  const auto appDir = dir.Path() / "app";
  const auto libDir = dir.Path() / "lib";
  std::filesystem::create_directories(appDir);
  std::filesystem::create_directories(libDir);
  std::filesystem::copy_file(BinDir() / ProgramName, appDir / ProgramName);
  std::filesystem::copy_file(BinDir() / LibraryName, libDir / LibraryName);
  const auto log = dir.Path() / "sim.log";
  auto environment = SimEnvironment(log);
  const char* path = std::getenv("PATH");
  environment.emplace_back("PATH", libDir.string() + ";" + (path ? path : ""));
  ExpectBindingFailure(appDir, appDir, environment);
  EXPECT_TRUE(ReadLines(log).empty()) << "library on PATH was loaded:\n" << Join(ReadLines(log));
}

// ---- main window ----------------------------------------------------------------------------

// Runs usbsim (the simulator's own tool) on `scenario` with `args`; false when it failed.
bool RunUsbsim(const std::filesystem::path& scenario, const std::string& args) {
  const auto code = e2e::RunUsbsim(BinDir(), scenario, args, /*announce=*/false);
  return code && *code == 0;
}

// The program with the simulator beside it, started and shown with its final caption.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.CopyIn(BinDir() / ProgramName);
    dir_.CopyIn(BinDir() / LibraryName);
  }

  // Starts the program (`program`, else Flashwright.exe in the test's directory) in the
  // simulator's default world, or in `scenario` when given.
  void Start(const std::filesystem::path& scenario = {},
             const std::filesystem::path& program = {}) {
    auto environment = SimEnvironment(Log());
    if (!scenario.empty()) environment.front().second = scenario.string();
    program_ = Process::Launch(program.empty() ? dir_.Path() / ProgramName : program, dir_.Path(),
                               environment);
    main_ = WaitForTopLevelWindow({program_.Id(), MainClass, FinalCaption, true}, StartTimeout,
                                  &program_);
    if (!main_) {
      std::string shown;
      for (HWND window : FindTopLevelWindows({program_.Id(), "", std::nullopt, false})) {
        shown += "  " + ClassName(window) + " \"" + TextOr(window) + "\"\n";
      }
      FAIL() << "main window with caption \"" << FinalCaption
             << "\" not shown; running: " << program_.Running() << "; windows of the process:\n"
             << shown;
    }
  }

  std::filesystem::path Log() const { return dir_.Path() / "sim.log"; }
  HWND Control(int id) const { return FindDescendantById(main_, id); }

  // Checks that the program ended with exit code 0 and released the library on the way.
  void ExpectOrderlyEnd() {
    auto code = program_.WaitForExit(ExitTimeout);
    ASSERT_TRUE(code.has_value()) << "program still running";
    EXPECT_EQ(*code, 0u);
    const auto lines = ReadLines(Log());
    const auto load = std::find(lines.begin(), lines.end(), "load");
    ASSERT_TRUE(load != lines.end()) << "no load in the library log:\n" << Join(lines);
    const bool released = std::find(load, lines.end(), "unload freelibrary") != lines.end();
    EXPECT_TRUE(released) << "library not released before exit:\n" << Join(lines);
    const bool leftToExit =
        std::find(lines.begin(), lines.end(), "unload process-exit") != lines.end();
    EXPECT_FALSE(leftToExit) << "library still loaded at process exit:\n" << Join(lines);
  }

  TempDir dir_{"main"};
  Process program_;
  HWND main_ = nullptr;
};

enum class Shown { Yes, No, ByScan };

struct ExpectedControl {
  int id;
  int parentId;  // 0: the main window
  const char* className;
  int left, top, width, height;
  const char* text;  // nullptr: set at run time, not checked here
  Shown shown;       // once the window is up, i.e. after the first scan
};

// Everything but the status texts and the choice between Update and Exit is fixed by the design.
// The first scan runs before the window is shown and hides the update lines.
constexpr ExpectedControl Layout[] = {
    {WindowId(ControlId::Panel1), 0, "FlashwrightPanel", 0, 0, 530, 200, nullptr, Shown::Yes},
    {WindowId(ControlId::RescanStatusPanel), WindowId(ControlId::Panel1), "FlashwrightPanel", 0, 30,
     530, 90, nullptr, Shown::Yes},
    {WindowId(ControlId::RescanStatus1Panel), WindowId(ControlId::RescanStatusPanel),
     "FlashwrightPanel", 0, 0, 530, 30, nullptr, Shown::Yes},
    {WindowId(ControlId::RescanStatus2Panel), WindowId(ControlId::RescanStatusPanel),
     "FlashwrightPanel", 0, 30, 530, 30, nullptr, Shown::Yes},
    {WindowId(ControlId::RescanStatus3Panel), WindowId(ControlId::RescanStatusPanel),
     "FlashwrightPanel", 0, 60, 530, 30, nullptr, Shown::Yes},
    {WindowId(ControlId::UpdateBtn), WindowId(ControlId::Panel1), "Button", 230, 165, 75, 25,
     "Update", Shown::ByScan},
    {WindowId(ControlId::UpdateStatusPanel), WindowId(ControlId::Panel1), "FlashwrightPanel", 0, 30,
     530, 90, nullptr, Shown::No},
    {WindowId(ControlId::UpdateStatus1Panel), WindowId(ControlId::UpdateStatusPanel),
     "FlashwrightPanel", 0, 0, 530, 30, nullptr, Shown::ByScan},
    {WindowId(ControlId::UpdateStatus2Panel), WindowId(ControlId::UpdateStatusPanel),
     "FlashwrightPanel", 0, 30, 530, 30, nullptr, Shown::ByScan},
    {WindowId(ControlId::UpdateStatus3Panel), WindowId(ControlId::UpdateStatusPanel),
     "FlashwrightPanel", 0, 60, 530, 30, nullptr, Shown::ByScan},
    {WindowId(ControlId::RefreshBtn), WindowId(ControlId::Panel1), "Button", 440, 2, 75, 25,
     "Refresh", Shown::No},
    {WindowId(ControlId::ExitBtn), WindowId(ControlId::Panel1), "Button", 440, 165, 75, 25, "Exit",
     Shown::ByScan},
};

TEST_F(MainWindowTest, CaptionSizeAndControlsFollowTheLayout) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(TextOr(main_), FinalCaption);
  const SIZE client = ClientSize(main_);
  EXPECT_EQ(client.cx, 535);
  EXPECT_EQ(client.cy, 196);

  // Placed at its design position when that fits the work area, else moved just enough.
  RECT outer{}, work{};
  GetWindowRect(main_, &outer);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const LONG width = outer.right - outer.left, height = outer.bottom - outer.top;
  EXPECT_EQ(outer.left, std::min<LONG>(850, work.right - width));
  EXPECT_EQ(outer.top, std::min<LONG>(247, work.bottom - height));

  // The application window carries the taskbar entry and owns the main window.
  HWND application = GetWindow(main_, GW_OWNER);
  EXPECT_EQ(ClassName(application), "FlashwrightApplication");
  EXPECT_EQ(TextOr(application), "Flashwright");

  for (const auto& expected : Layout) {
    SCOPED_TRACE("control " + std::to_string(expected.id));
    HWND control = Control(expected.id);
    ASSERT_NE(control, nullptr) << "control missing";
    HWND parent = expected.parentId == 0 ? main_ : Control(expected.parentId);
    EXPECT_EQ(GetAncestor(control, GA_PARENT), parent);
    EXPECT_EQ(ClassName(control), expected.className);
    const RECT rect = RectInParent(control);
    EXPECT_EQ(rect.left, expected.left);
    EXPECT_EQ(rect.top, expected.top);
    EXPECT_EQ(rect.right - rect.left, expected.width);
    EXPECT_EQ(rect.bottom - rect.top, expected.height);
    if (expected.text) {
      EXPECT_EQ(TextOr(control), expected.text);
    }
    if (expected.shown != Shown::ByScan) {
      EXPECT_EQ(IsVisible(control), expected.shown == Shown::Yes);
    }
  }
  const app::Screen screen = app::ReadScreen(main_);
  EXPECT_EQ(screen.offeredButtons.size(), 1u) << "after the first scan:\n" << app::Describe(screen);

  // WM_CLOSE (the close box) ends the program like Exit does.
  PostMessageA(main_, WM_CLOSE, 0, 0);
  ExpectOrderlyEnd();
}

// The title is the executable's name cut at its first dot, every letter after the first in lower
// case, also the letters beyond ASCII: as the ANSI code page has them (1252 in the test prefix).
TEST_F(MainWindowTest, ApplicationTitleLowerCasesTheLettersOfTheCodePage) {
  ASSERT_EQ(GetACP(), 1252u) << "the expected title is written in code page 1252";
  const auto renamed = dir_.Path() / std::wstring(L"FLASHWRIGHT\u00C9\u00C4.exe");
  std::filesystem::copy_file(dir_.Path() / ProgramName, renamed);
  ASSERT_NO_FATAL_FAILURE(Start({}, renamed));
  HWND application = GetWindow(main_, GW_OWNER);
  ASSERT_EQ(ClassName(application), app::ApplicationClass);
  EXPECT_EQ(TextOr(application), "Flashwright\xE9\xE4");
  PostMessageA(main_, WM_CLOSE, 0, 0);
  ExpectOrderlyEnd();
}

TEST_F(MainWindowTest, ExitButtonEndsProgramAndReleasesLibrary) {
  // A device that is up to date: the first scan offers Exit.
  const auto scenario = dir_.Path() / "world.ini";
  ASSERT_TRUE(RunUsbsim(scenario, "reset"));
  ASSERT_TRUE(RunUsbsim(scenario, "set 1 version=00.01.01.07"));
  ASSERT_NO_FATAL_FAILURE(Start(scenario));

  HWND exitButton = Control(WindowId(ControlId::ExitBtn));
  ASSERT_NE(exitButton, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return IsVisible(exitButton) && IsEnabled(exitButton); }, 10s))
      << "Exit not offered";
  PostClick(exitButton);
  ExpectOrderlyEnd();
}

// The active window and the keyboard focus of the thread that owns `window`.
struct ThreadActivation {
  HWND active = nullptr;
  HWND focus = nullptr;
};
ThreadActivation ActivationOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return {};
  return {info.hwndActive, info.hwndFocus};
}

// Minimised and restored through the taskbar entry (the application window), whichever way the
// restore comes, the main window is active again with the focus on the offered button, so the
// keyboard works at once.
TEST_F(MainWindowTest, RestoreThroughTheTaskbarEntryActivatesTheMainWindow) {
  ASSERT_NO_FATAL_FAILURE(Start());
  HWND application = GetWindow(main_, GW_OWNER);
  ASSERT_EQ(ClassName(application), app::ApplicationClass);
  HWND update = Control(WindowId(ControlId::UpdateBtn));
  ASSERT_TRUE(WaitUntil([&] { return app::OfferedButton(main_, "Update") != nullptr; }, 10s))
      << "Update not offered";
  const auto activeOnUpdate = [&] {
    const ThreadActivation now = ActivationOf(main_);
    return now.active == main_ && now.focus == update;
  };
  const auto describe = [&] {
    const ThreadActivation now = ActivationOf(main_);
    return "active: " + ClassName(now.active) + ", focus: " + ClassName(now.focus) + " \"" +
           TextOr(now.focus) + "\"";
  };
  ASSERT_TRUE(WaitUntil(activeOnUpdate, 5s)) << "after start, " << describe();

  const std::pair<const char*, std::function<void()>> restores[] = {
      {"WM_SYSCOMMAND SC_RESTORE",
       [&] { PostMessageA(application, WM_SYSCOMMAND, SC_RESTORE, 0); }},
      {"ShowWindow SW_RESTORE", [&] { ShowWindow(application, SW_RESTORE); }},
      {"SwitchToThisWindow", [&] { SwitchToThisWindow(application, TRUE); }},
  };
  for (const auto& [name, restore] : restores) {
    SCOPED_TRACE(name);
    PostMessageA(application, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(application) && !IsVisible(main_); }, 5s))
        << "not minimised; iconic: " << IsIconic(application) << ", main visible "
        << IsVisible(main_);
    restore();
    EXPECT_TRUE(WaitUntil(activeOnUpdate, 5s))
        << "after the restore, " << describe() << "; iconic: " << IsIconic(application)
        << ", main visible: " << IsVisible(main_);
  }
  PostMessageA(main_, WM_CLOSE, 0, 0);
  ExpectOrderlyEnd();
}

}  // namespace
}  // namespace e2e
