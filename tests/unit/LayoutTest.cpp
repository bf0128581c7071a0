// The layout's creation order, its scaling arithmetic and the window's placement.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Layout.h"

namespace {

using platform::ControlId;

TEST(Layout, CreatesParentsBeforeChildrenAndSiblingsInTabOrder) {
  const auto order = platform::CreationOrder();
  auto position = [&](ControlId id) {
    return std::find(order.begin(), order.end(), id) - order.begin();
  };
  for (const platform::ControlSpec& entry : platform::Layout()) {
    EXPECT_LT(position(entry.id), static_cast<long>(order.size())) << entry.name;
    if (entry.parent) {
      EXPECT_LT(position(*entry.parent), position(entry.id)) << entry.name;
    }
  }
  // Panel1's children: UpdateBtn 0, UpdateStatusPanel 1, RefreshBtn 2, RescanStatusPanel 3,
  // ExitBtn 4.
  EXPECT_LT(position(ControlId::UpdateBtn), position(ControlId::UpdateStatusPanel));
  EXPECT_LT(position(ControlId::UpdateStatusPanel), position(ControlId::RefreshBtn));
  EXPECT_LT(position(ControlId::RefreshBtn), position(ControlId::RescanStatusPanel));
  EXPECT_LT(position(ControlId::RescanStatusPanel), position(ControlId::ExitBtn));
  EXPECT_LT(position(ControlId::RescanStatus1Panel), position(ControlId::RescanStatus3Panel));
}

TEST(Layout, OnlyTheRefreshButtonStartsHidden) {
  for (const platform::ControlSpec& entry : platform::Layout()) {
    EXPECT_EQ(entry.visible, entry.id != ControlId::RefreshBtn) << entry.name;
  }
}

TEST(MulDivRound, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(platform::MulDivRound(-11, 120, 96), -14);  // -13.75
  EXPECT_EQ(platform::MulDivRound(-11, 144, 96), -17);  // -16.5
  EXPECT_EQ(platform::MulDivRound(535, 16, 13), 658);   // 658.46
  EXPECT_EQ(platform::MulDivRound(5, 1, 2), 3);
  EXPECT_EQ(platform::MulDivRound(-5, 1, 2), -3);
  EXPECT_EQ(platform::MulDivRound(7, 3, 0), -1);
}

TEST(Scaling, NothingChangesAtTheDesignResolution) {
  EXPECT_EQ(platform::ScaledFormFontHeight(96), -11);
  // Even with a substituted font that measures differently.
  const platform::Scaling scaling = platform::LayoutScaling(96, 14);
  EXPECT_EQ(scaling.Apply(535), 535);
}

TEST(Scaling, FollowsTheFontAtOtherResolutions) {
  EXPECT_EQ(platform::ScaledFormFontHeight(120), -14);
  EXPECT_EQ(platform::ScaledFormFontHeight(144), -17);
  // The "0" of the scaled font measures 16 pixels instead of 13: everything grows by 16/13.
  const platform::Scaling scaling = platform::LayoutScaling(120, 16);
  EXPECT_EQ(scaling.Apply(535), 658);
  EXPECT_EQ(scaling.Apply(196), 241);
  EXPECT_EQ(scaling.Apply(-16), -20);
  // A font that still measures 13 leaves the layout alone.
  EXPECT_EQ(platform::LayoutScaling(120, 13).Apply(535), 535);
}

TEST(PlaceWindow, KeepsTheDesignPositionWhenTheWindowFits) {
  const platform::Rect placed = platform::PlaceWindow(541, 222, {0, 0, 1920, 1040});
  EXPECT_EQ(placed.left, 850);
  EXPECT_EQ(placed.top, 247);
  EXPECT_EQ(placed.Width(), 541);
  EXPECT_EQ(placed.Height(), 222);
}

TEST(PlaceWindow, MovesJustEnoughToFitANarrowOrShortWorkArea) {
  const platform::Rect narrow = platform::PlaceWindow(541, 222, {0, 0, 1024, 728});
  EXPECT_EQ(narrow.left, 1024 - 541);
  EXPECT_EQ(narrow.top, 247);
  const platform::Rect tiny = platform::PlaceWindow(541, 222, {100, 50, 600, 200});
  EXPECT_EQ(tiny.left, 100);  // larger than the work area: its top-left corner shows
  EXPECT_EQ(tiny.top, 50);
  const platform::Rect exact = platform::PlaceWindow(541, 222, {0, 0, 1391, 469});
  EXPECT_EQ(exact.left, 850);
  EXPECT_EQ(exact.top, 247);
}

}  // namespace
