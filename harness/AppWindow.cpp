// Reads Flashwright's main window through the driver: which status area is up, its lines, and
// which buttons a user could press.
#include "harness/AppWindow.h"

namespace e2e::app {
namespace {

bool Offered(HWND control) { return control && IsVisible(control) && IsEnabled(control); }

int ButtonId(const std::string& name) {
  if (name == "Update") return WindowId(ControlId::UpdateBtn);
  if (name == "Exit") return WindowId(ControlId::ExitBtn);
  return 0;
}

}  // namespace

Screen ReadScreen(HWND main, TextSource source) {
  const auto text = [source](HWND window) {
    return source == TextSource::Ask ? TextOr(window) : StoredText(window);
  };
  Screen screen;
  screen.caption = text(main);
  const HWND rescan = FindDescendantById(main, WindowId(ControlId::RescanStatusPanel));
  const HWND update = FindDescendantById(main, WindowId(ControlId::UpdateStatusPanel));
  const bool rescanVisible = rescan && IsVisible(rescan);
  const bool updateVisible = update && IsVisible(update);
  screen.visibleStatusAreas = int{rescanVisible} + int{updateVisible};
  // With both up (never meant to happen) the scan lines are reported. Each area's three lines
  // have consecutive IDs.
  const int firstLine = rescanVisible   ? WindowId(ControlId::RescanStatus1Panel)
                        : updateVisible ? WindowId(ControlId::UpdateStatus1Panel)
                                        : 0;
  if (firstLine != 0) {
    for (int line = 0; line < 3; ++line) {
      screen.lines[line] = text(FindDescendantById(main, firstLine + line));
    }
  }
  for (const char* name : {"Update", "Exit"}) {
    if (Offered(FindDescendantById(main, ButtonId(name)))) screen.offeredButtons.push_back(name);
  }
  return screen;
}

std::string Describe(const Screen& screen) {
  std::string text = "caption: \"" + screen.caption + "\"\n";
  for (int line = 0; line < 3; ++line) {
    text += "line " + std::to_string(line + 1) + ": \"" + screen.lines[line] + "\"\n";
  }
  text += "buttons:";
  if (screen.offeredButtons.empty()) text += " (none)";
  for (const auto& name : screen.offeredButtons) text += " " + name;
  text += "\n";
  if (screen.visibleStatusAreas != 1) {
    text += "warning: " + std::to_string(screen.visibleStatusAreas) +
            " status areas visible (expected 1)\n";
  }
  return text;
}

HWND OfferedButton(HWND main, const std::string& name) {
  const int id = ButtonId(name);
  if (id == 0) return nullptr;
  HWND button = FindDescendantById(main, id);
  return Offered(button) ? button : nullptr;
}

HWND FindMainWindow(Millis timeout) {
  return WaitForTopLevelWindow({0, MainClass, std::nullopt, /*visibleOnly=*/true}, timeout);
}

}  // namespace e2e::app
