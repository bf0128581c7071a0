// The main window's layout as data: its controls, their places, fonts and tab order, at the
// design resolution of 96 pixels per inch.
#pragma once

#include <array>
#include <cstddef>
#include <optional>

namespace platform {

class FormEvents;

// In the order of the layout table; the numeric value + ControlIdBase is the child window ID.
enum class ControlId {
  Panel1,
  RescanStatusPanel,
  RescanStatus1Panel,
  RescanStatus2Panel,
  RescanStatus3Panel,
  UpdateBtn,
  UpdateStatusPanel,
  UpdateStatus1Panel,
  UpdateStatus2Panel,
  UpdateStatus3Panel,
  RefreshBtn,
  ExitBtn,
};
inline constexpr std::size_t ControlCount = 12;
inline constexpr int ControlIdBase = 1000;

enum class ControlKind { Panel, Button };

// One row of the layout table; rows are written with designated initializers.
struct ControlSpec {
  ControlId id;
  const char* name;
  ControlKind kind;
  std::optional<ControlId> parent{};  // none: the window itself
  int left = 0, top = 0, width = 0, height = 0;
  int tabOrder = 0;
  const char* text = "";
  int fontHeight = 0;    // pixels, negative: character height, as a font height is given
  bool ownFont = false;  // false: uses the form's font
  bool visible = true;   // at creation
  // A button's click handler, called on the form as it is; nullptr for panels.
  void (FormEvents::*onClick)() = nullptr;
};

inline constexpr int DesignPixelsPerInch = 96;
inline constexpr int DesignClientWidth = 535;
inline constexpr int DesignClientHeight = 196;
// Height of the character "0" in the form font at design time; scaling follows its change.
inline constexpr int DesignTextHeight = 13;
inline constexpr int FormFontHeight = -11;
inline constexpr int LineFontHeight = -16;  // 12 points at 96 pixels per inch
inline constexpr int AreaFontHeight = -11;
inline constexpr const char* FormFontFace = "MS Sans Serif";
inline constexpr int DesignWindowLeft = 850;
inline constexpr int DesignWindowTop = 247;

const std::array<ControlSpec, ControlCount>& Layout();
const ControlSpec& SpecOf(ControlId id);

// Every control, parents before their children and siblings in tab order: the order in which
// the controls are created, so that the keyboard moves through them in tab order.
std::array<ControlId, ControlCount> CreationOrder();

// Rounds like the platform's MulDiv: value * numerator / denominator, halves away from zero.
int MulDivRound(int value, int numerator, int denominator);

// How the layout is scaled for a display of `pixelsPerInch`: the form font height first, then,
// if the height of "0" in that font (measured by the caller) differs from the design value,
// every position, size, the client size and the controls' own font heights by their ratio.
struct Scaling {
  int numerator = 1;
  int denominator = 1;
  int Apply(int value) const { return MulDivRound(value, numerator, denominator); }
};
int ScaledFormFontHeight(int pixelsPerInch);
Scaling LayoutScaling(int pixelsPerInch, int measuredTextHeight);

struct Rect {
  int left, top, right, bottom;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// Where the window's outer rectangle goes: at its design position when it fits inside
// `workArea`, otherwise moved just enough to fit (and to the work area's top-left corner when it
// is larger than the work area), so that its buttons are never off-screen.
Rect PlaceWindow(int outerWidth, int outerHeight, const Rect& workArea);

}  // namespace platform
