// The main window's layout table and the arithmetic that places and scales it.
#include "app/Layout.h"

#include <algorithm>
#include <cstdlib>

namespace app {
namespace {

constexpr int LineFont = -16;  // 12 points at 96 pixels per inch
constexpr int AreaFont = -11;

constexpr std::array<ControlSpec, ControlCount> Table = {{
    {ControlId::Panel1, "Panel1", ControlKind::Panel, std::nullopt, 0, 0, 530, 200, 0, "",
     FormFontHeight, false, true},
    {ControlId::RescanStatusPanel, "RescanStatusPanel", ControlKind::Panel, ControlId::Panel1, 0,
     30, 530, 90, 3, "", AreaFont, true, true},
    {ControlId::RescanStatus1Panel, "RescanStatus1Panel", ControlKind::Panel,
     ControlId::RescanStatusPanel, 0, 0, 530, 30, 0, "", LineFont, true, true},
    {ControlId::RescanStatus2Panel, "RescanStatus2Panel", ControlKind::Panel,
     ControlId::RescanStatusPanel, 0, 30, 530, 30, 1, "", LineFont, true, true},
    {ControlId::RescanStatus3Panel, "RescanStatus3Panel", ControlKind::Panel,
     ControlId::RescanStatusPanel, 0, 60, 530, 30, 2, "", LineFont, true, true},
    {ControlId::UpdateBtn, "UpdateBtn", ControlKind::Button, ControlId::Panel1, 230, 165, 75, 25, 0,
     "Update", FormFontHeight, false, true},
    {ControlId::UpdateStatusPanel, "UpdateStatusPanel", ControlKind::Panel, ControlId::Panel1, 0,
     30, 530, 90, 1, "", AreaFont, true, true},
    {ControlId::UpdateStatus1Panel, "UpdateStatus1Panel", ControlKind::Panel,
     ControlId::UpdateStatusPanel, 0, 0, 530, 30, 0, "", LineFont, true, true},
    {ControlId::UpdateStatus2Panel, "UpdateStatus2Panel", ControlKind::Panel,
     ControlId::UpdateStatusPanel, 0, 30, 530, 30, 1, "", LineFont, true, true},
    {ControlId::UpdateStatus3Panel, "UpdateStatus3Panel", ControlKind::Panel,
     ControlId::UpdateStatusPanel, 0, 60, 530, 30, 2, "", LineFont, true, true},
    {ControlId::RefreshBtn, "RefreshBtn", ControlKind::Button, ControlId::Panel1, 440, 2, 75, 25, 2,
     "Refresh", FormFontHeight, false, false},
    {ControlId::ExitBtn, "ExitBtn", ControlKind::Button, ControlId::Panel1, 440, 165, 75, 25, 4,
     "Exit", FormFontHeight, false, true},
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

}  // namespace app
