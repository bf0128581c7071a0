// What the window shows after a scan or an update: three status lines and the button offered.
#pragma once

#include <array>
#include <string_view>

#include "platform/Platform.h"

namespace core {

// The lines of one status area and whether Update (rather than Exit) is offered.
struct StatusView {
  std::array<std::string_view, 3> lines;
  bool offerUpdate = false;
};

enum class StatusArea { Rescan, Update };

// Offers the view's button (each button's enabled state before its visibility, Update before
// Exit; the other is disabled and hidden), writes the three lines of `area` and shows the area.
void ShowStatus(platform::Controls& controls, StatusArea area, const StatusView& view);

}  // namespace core
