// What Flashwright's main window shows, read from outside: control IDs (from the program's
// layout), the visible status lines and the offered buttons. Shared by the end-to-end tests,
// fwinspect and fwbench.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "harness/Driver.h"
#include "platform/Layout.h"

namespace e2e::app {

inline constexpr char MainClass[] = "TForm1";
inline constexpr char ApplicationClass[] = "FlashwrightApplication";
inline constexpr char FinalCaption[] = "KV7700 Flashwright v0.1.1.7";

// The main window's controls, as the program's layout names them.
using platform::ControlId;

// The child window ID the program gives a control of the main window.
constexpr int WindowId(ControlId control) {
  return platform::ControlIdBase + static_cast<int>(control);
}

struct Screen {
  std::string caption;
  // The three lines of whichever status area is visible; all empty when none is.
  std::array<std::string, 3> lines;
  int visibleStatusAreas = 0;  // 1 normally; 0 or 2 is worth a warning
  // Names ("Update", "Exit") of the buttons that are visible and enabled, in that order.
  std::vector<std::string> offeredButtons;
};

// How texts are read: by asking the window (WM_GETTEXT, what an automation client sees; waits
// while the program is busy) or from the window system's copy (answers at once, e.g. while the
// program sits in the blocking programming call).
enum class TextSource { Ask, Stored };

Screen ReadScreen(HWND main, TextSource source = TextSource::Ask);

// The screen as fwinspect prints it: caption, the three lines quoted, the offered buttons.
std::string Describe(const Screen& screen);

// The button called `name` ("Update" or "Exit") if it is offered now, else nullptr.
HWND OfferedButton(HWND main, const std::string& name);

// The first visible main window of any Flashwright process (on any desktop), or nullptr.
HWND FindMainWindow(Millis timeout);

}  // namespace e2e::app
