// The main window's layout table and the arithmetic that places and scales it.
#include "platform/Layout.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Platform.h"

namespace platform {
namespace {

// Panel1 holds everything: the two status areas (overlapping), each of three 30-pixel lines in
// the line font, and the three buttons in the form font.
constexpr ControlSpec StatusArea(ControlId id, const char* name, int tabOrder) {
  return {.id = id,
          .name = name,
          .kind = ControlKind::Panel,
          .parent = ControlId::Panel1,
          .top = 30,
          .width = 530,
          .height = 90,
          .tabOrder = tabOrder,
          .fontHeight = AreaFontHeight,
          .ownFont = true};
}

constexpr ControlSpec StatusLine(ControlId id, const char* name, ControlId area, int line) {
  return {.id = id,
          .name = name,
          .kind = ControlKind::Panel,
          .parent = area,
          .top = 30 * line,
          .width = 530,
          .height = 30,
          .tabOrder = line,
          .fontHeight = LineFontHeight,
          .ownFont = true};
}

constexpr ControlSpec Button(ControlId id, const char* name, const char* caption, int left, int top,
                             int tabOrder, void (FormEvents::*onClick)(), bool visible = true) {
  return {.id = id,
          .name = name,
          .kind = ControlKind::Button,
          .parent = ControlId::Panel1,
          .left = left,
          .top = top,
          .width = 75,
          .height = 25,
          .tabOrder = tabOrder,
          .text = caption,
          .fontHeight = FormFontHeight,
          .visible = visible,
          .onClick = onClick};
}

using C = ControlId;
constexpr std::array<ControlSpec, ControlCount> Table = {{
    {.id = C::Panel1,
     .name = "Panel1",
     .kind = ControlKind::Panel,
     .width = 530,
     .height = 200,
     .fontHeight = FormFontHeight},
    StatusArea(C::RescanStatusPanel, "RescanStatusPanel", 3),
    StatusLine(C::RescanStatus1Panel, "RescanStatus1Panel", C::RescanStatusPanel, 0),
    StatusLine(C::RescanStatus2Panel, "RescanStatus2Panel", C::RescanStatusPanel, 1),
    StatusLine(C::RescanStatus3Panel, "RescanStatus3Panel", C::RescanStatusPanel, 2),
    Button(C::UpdateBtn, "UpdateBtn", "Update", 230, 165, 0, &FormEvents::UpdateBtnClick),
    StatusArea(C::UpdateStatusPanel, "UpdateStatusPanel", 1),
    StatusLine(C::UpdateStatus1Panel, "UpdateStatus1Panel", C::UpdateStatusPanel, 0),
    StatusLine(C::UpdateStatus2Panel, "UpdateStatus2Panel", C::UpdateStatusPanel, 1),
    StatusLine(C::UpdateStatus3Panel, "UpdateStatus3Panel", C::UpdateStatusPanel, 2),
    Button(C::RefreshBtn, "RefreshBtn", "Refresh", 440, 2, 2, &FormEvents::RefreshBtnClick, false),
    Button(C::ExitBtn, "ExitBtn", "Exit", 440, 165, 4, &FormEvents::ExitBtnClick),
}};

constexpr bool IndexedById() {
  for (std::size_t i = 0; i < Table.size(); ++i) {
    if (static_cast<std::size_t>(Table[i].id) != i) return false;
  }
  return true;
}
static_assert(IndexedById(), "the layout table is indexed by ControlId");

}  // namespace

const std::array<ControlSpec, ControlCount>& Layout() { return Table; }

const ControlSpec& SpecOf(ControlId id) { return Table[static_cast<std::size_t>(id)]; }

std::array<ControlId, ControlCount> CreationOrder() {
  std::array<ControlId, ControlCount> order{};
  std::size_t count = 0;
  // Depth-first from the window: each parent, then its children by tab order.
  auto visit = [&](auto&& self, std::optional<ControlId> parent) -> void {
    std::array<const ControlSpec*, ControlCount> children{};
    std::size_t n = 0;
    for (const ControlSpec& entry : Table) {
      if (entry.parent == parent) children[n++] = &entry;
    }
    std::stable_sort(
        children.begin(), children.begin() + n,
        [](const ControlSpec* a, const ControlSpec* b) { return a->tabOrder < b->tabOrder; });
    for (std::size_t i = 0; i < n; ++i) {
      order[count++] = children[i]->id;
      self(self, children[i]->id);
    }
  };
  visit(visit, std::nullopt);
  return order;
}

int MulDivRound(int value, int numerator, int denominator) {
  if (denominator == 0) return -1;  // as the platform's MulDiv reports an overflow
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = std::llabs(static_cast<long long>(denominator)) / 2;
  const bool negative = (product < 0) != (denominator < 0);
  const long long magnitude =
      (std::llabs(product) + half) / std::llabs(static_cast<long long>(denominator));
  return static_cast<int>(negative ? -magnitude : magnitude);
}

int ScaledFormFontHeight(int pixelsPerInch) {
  if (pixelsPerInch == DesignPixelsPerInch || pixelsPerInch <= 0) return FormFontHeight;
  return MulDivRound(FormFontHeight, pixelsPerInch, DesignPixelsPerInch);
}

Scaling LayoutScaling(int pixelsPerInch, int measuredTextHeight) {
  // At the design resolution nothing is scaled, whatever font the system substitutes.
  if (pixelsPerInch == DesignPixelsPerInch || pixelsPerInch <= 0) return {};
  if (measuredTextHeight <= 0 || measuredTextHeight == DesignTextHeight) return {};
  return {measuredTextHeight, DesignTextHeight};
}

Rect PlaceWindow(int outerWidth, int outerHeight, const Rect& workArea) {
  int left = DesignWindowLeft;
  int top = DesignWindowTop;
  if (left + outerWidth > workArea.right) left = workArea.right - outerWidth;
  if (top + outerHeight > workArea.bottom) top = workArea.bottom - outerHeight;
  left = std::max(left, workArea.left);
  top = std::max(top, workArea.top);
  return {left, top, left + outerWidth, top + outerHeight};
}

}  // namespace platform
