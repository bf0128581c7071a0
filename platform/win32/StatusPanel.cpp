// The status panels: painting (the button-face fill, the centred text and the colour rule that
// keeps the lines readable in high contrast and on dark faces) and the messages a panel handles.
#include "platform/win32/StatusPanel.h"

#include <cmath>

#include "platform/win32/WindowText.h"

namespace platform::win32 {

namespace {

// True when the status lines draw in the system's window-text colour: in high contrast, and
// whenever the fixed black would not stand out from the button face (a contrast ratio below
// 4.5:1, i.e. a face darker than a relative luminance of 0.175). Default colours keep the black.
bool SystemTextColourForLines() {
  HIGHCONTRASTA highContrast{};
  highContrast.cbSize = sizeof highContrast;
  if (SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof highContrast, &highContrast, 0) &&
      (highContrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
    return true;
  }
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const auto linear = [](BYTE channel) {
    const double value = channel / 255.0;
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
  };
  const double luminance = 0.2126 * linear(GetRValue(face)) + 0.7152 * linear(GetGValue(face)) +
                           0.0722 * linear(GetBValue(face));
  return luminance < 0.175;
}

}  // namespace

bool IsStatusLine(ControlId id) {
  const ControlSpec& entry = SpecOf(id);
  return entry.kind == ControlKind::Panel && entry.parent.has_value() &&
         SpecOf(*entry.parent).parent.has_value();
}

void Panel::Paint(HWND panel) {
  // Read first: what may throw comes before BeginPaint, so EndPaint is never skipped.
  const TextBuffer text(panel);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(panel, &paint);
  RECT client;
  GetClientRect(panel, &client);
  // Every panel merges with the window's background.
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  if (!text.View().empty()) {
    HGDIOBJ previous = font_ ? SelectObject(dc, font_) : nullptr;
    // Centred in a one-line box as high as the letter W; cut off at the panel's edges, never
    // wrapped or shortened. Tabs are expanded and "&" underlines the character after it.
    SIZE letter{};
    GetTextExtentPoint32A(dc, "W", 1, &letter);
    RECT box = client;
    box.top = (client.top + client.bottom - letter.cy) / 2;
    box.bottom = box.top + letter.cy;
    const bool formFontColour = GetDlgCtrlID(panel) == ControlWindowId(ControlId::Panel1);
    SetTextColor(dc, formFontColour || SystemTextColourForLines() ? GetSysColor(COLOR_WINDOWTEXT)
                                                                  : RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text.CStr(), static_cast<int>(text.View().size()), &box,
              DT_CENTER | DT_SINGLELINE | DT_EXPANDTABS);
    if (previous) SelectObject(dc, previous);
  }
  EndPaint(panel, &paint);
}

LRESULT Panel::HandleMessage(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(panel, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SETTEXT: {
      // Setting the same text again does nothing; a new one is drawn at the next paint.
      const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      if (TextBuffer(panel).View() == text) return TRUE;
      const LRESULT result = DefWindowProcA(panel, message, wParam, lParam);
      InvalidateRect(panel, nullptr, FALSE);
      if (accessibility_) AnnounceLine(panel);
      return result;
    }
    case WM_GETOBJECT:
      if (accessibility_ && static_cast<LONG>(lParam) == OBJID_CLIENT &&
          accessibility_->Prepare(*lines_)) {
        if (const LRESULT answer = accessibility_->Answer(panel, wParam)) return answer;
      }
      return DefWindowProcA(panel, message, wParam, lParam);
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole panel
    case WM_PAINT:
      Paint(panel);
      return 0;
    case WM_COMMAND:
      // Buttons report to their parent panel; the main window handles them.
      return SendMessageA(GetAncestor(panel, GA_ROOT), message, wParam, lParam);
    default:
      return DefWindowProcA(panel, message, wParam, lParam);
  }
}

}  // namespace platform::win32
