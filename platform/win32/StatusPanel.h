// The status panels of the main window: each draws its own background and centred text, and a
// status line among them also answers accessibility clients.
#pragma once

#include <windows.h>

#include <array>

#include "platform/Layout.h"
#include "platform/win32/AccessibilityServer.h"

namespace platform::win32 {

// The control id of a layout entry's window; the ids start at ControlIdBase.
inline int ControlWindowId(ControlId id) { return ControlIdBase + static_cast<int>(id); }

// True for a status line: a panel inside a panel inside the window.
bool IsStatusLine(ControlId id);

// A status panel: fills itself with the button-face colour and draws its text centred. A status
// line also answers accessibility clients and tells them when its text changes.
class Panel {
 public:
  // Makes this panel a status line; `lines` knows every line of the window.
  void MakeLine(AccessibilityServer& accessibility, const std::array<HWND, ControlCount>& lines) {
    accessibility_ = &accessibility;
    lines_ = &lines;
  }
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Paint(HWND window);
  HFONT font_ = nullptr;                                   // owned by the main window
  AccessibilityServer* accessibility_ = nullptr;           // set for a status line only
  const std::array<HWND, ControlCount>* lines_ = nullptr;  // the window's lines, by index
};

}  // namespace platform::win32
