// The main window's layout table and the arithmetic that places and scales it.
#include "platform/Layout.h"

#include <algorithm>
#include <cstdlib>

#include "platform/Platform.h"

namespace platform {
namespace {

constexpr std::array<ControlSpec, ControlCount> Table = {{
    {.id = ControlId::Panel1,
     .name = "Panel1",
     .kind = ControlKind::Panel,
     .parent = std::nullopt,
     .left = 0,
     .top = 0,
     .width = 530,
     .height = 200,
     .tabOrder = 0,
     .text = "",
     .fontHeight = FormFontHeight,
     .ownFont = false,
     .visible = true},
    {.id = ControlId::RescanStatusPanel,
     .name = "RescanStatusPanel",
     .kind = ControlKind::Panel,
     .parent = ControlId::Panel1,
     .left = 0,
     .top = 30,
     .width = 530,
     .height = 90,
     .tabOrder = 3,
     .text = "",
     .fontHeight = AreaFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::RescanStatus1Panel,
     .name = "RescanStatus1Panel",
     .kind = ControlKind::Panel,
     .parent = ControlId::RescanStatusPanel,
     .left = 0,
     .top = 0,
     .width = 530,
     .height = 30,
     .tabOrder = 0,
     .text = "",
     .fontHeight = LineFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::RescanStatus2Panel,
     .name = "RescanStatus2Panel",
     .kind = ControlKind::Panel,
     .parent = ControlId::RescanStatusPanel,
     .left = 0,
     .top = 30,
     .width = 530,
     .height = 30,
     .tabOrder = 1,
     .text = "",
     .fontHeight = LineFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::RescanStatus3Panel,
     .name = "RescanStatus3Panel",
     .kind = ControlKind::Panel,
     .parent = ControlId::RescanStatusPanel,
     .left = 0,
     .top = 60,
     .width = 530,
     .height = 30,
     .tabOrder = 2,
     .text = "",
     .fontHeight = LineFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::UpdateBtn,
     .name = "UpdateBtn",
     .kind = ControlKind::Button,
     .parent = ControlId::Panel1,
     .left = 230,
     .top = 165,
     .width = 75,
     .height = 25,
     .tabOrder = 0,
     .text = "Update",
     .fontHeight = FormFontHeight,
     .ownFont = false,
     .visible = true,
     .onClick = &FormEvents::UpdateBtnClick},
    {.id = ControlId::UpdateStatusPanel,
     .name = "UpdateStatusPanel",
     .kind = ControlKind::Panel,
     .parent = ControlId::Panel1,
     .left = 0,
     .top = 30,
     .width = 530,
     .height = 90,
     .tabOrder = 1,
     .text = "",
     .fontHeight = AreaFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::UpdateStatus1Panel,
     .name = "UpdateStatus1Panel",
     .kind = ControlKind::Panel,
     .parent = ControlId::UpdateStatusPanel,
     .left = 0,
     .top = 0,
     .width = 530,
     .height = 30,
     .tabOrder = 0,
     .text = "",
     .fontHeight = LineFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::UpdateStatus2Panel,
     .name = "UpdateStatus2Panel",
     .kind = ControlKind::Panel,
     .parent = ControlId::UpdateStatusPanel,
     .left = 0,
     .top = 30,
     .width = 530,
     .height = 30,
     .tabOrder = 1,
     .text = "",
     .fontHeight = LineFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::UpdateStatus3Panel,
     .name = "UpdateStatus3Panel",
     .kind = ControlKind::Panel,
     .parent = ControlId::UpdateStatusPanel,
     .left = 0,
     .top = 60,
     .width = 530,
     .height = 30,
     .tabOrder = 2,
     .text = "",
     .fontHeight = LineFontHeight,
     .ownFont = true,
     .visible = true},
    {.id = ControlId::RefreshBtn,
     .name = "RefreshBtn",
     .kind = ControlKind::Button,
     .parent = ControlId::Panel1,
     .left = 440,
     .top = 2,
     .width = 75,
     .height = 25,
     .tabOrder = 2,
     .text = "Refresh",
     .fontHeight = FormFontHeight,
     .ownFont = false,
     .visible = false,
     .onClick = &FormEvents::RefreshBtnClick},
    {.id = ControlId::ExitBtn,
     .name = "ExitBtn",
     .kind = ControlKind::Button,
     .parent = ControlId::Panel1,
     .left = 440,
     .top = 165,
     .width = 75,
     .height = 25,
     .tabOrder = 4,
     .text = "Exit",
     .fontHeight = FormFontHeight,
     .ownFont = false,
     .visible = true,
     .onClick = &FormEvents::ExitBtnClick},
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
