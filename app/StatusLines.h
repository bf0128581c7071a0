// What the window shows of a scan or an update: one table from each outcome to three status lines
// and the button offered, and the one writer that puts them on the window.
#pragma once

#include <array>
#include <string_view>

#include "device/Scan.h"
#include "platform/Platform.h"
#include "update/UpdateRun.h"

namespace app {

using Lines = std::array<std::string_view, 3>;

// The lines of one status area and whether Update (rather than Exit) is offered.
struct StatusView {
  Lines lines;
  bool offerUpdate = false;
};

enum class StatusArea { Rescan, Update };

// What the update area says while the device is programmed.
inline constexpr Lines UpdatingLines = {"DO NOT disconnect the device during the F/W update.",
                                        "Updating.....", ""};

// What the scan area says while another of our programs programs a device: plain words,
// no failure and no advice to unplug; the window looks again by itself.
inline constexpr Lines BusyLines = {"Another Flashwright program is updating a device.",
                                    "DO NOT disconnect the device.",
                                    "This window checks again when it is done."};
// Another program has held the lock longer than a look at the devices takes, without programming
// (a production station between its units, say).
inline constexpr Lines InUseLines = {"Another Flashwright program is using the devices.",
                                     "This window checks again when it is done.", ""};
// The same when the lock cannot be had at all: nothing may touch the device.
inline constexpr Lines LockUnavailableLines = {"The device cannot be checked right now.",
                                               "This window tries again by itself.", ""};

// The scan lines for `outcome`; a device found up to date or needing an update is named by
// `deviceInfo` on the second line (the view refers to it, so it must outlive the view).
StatusView ScanView(device::ScanOutcome outcome, std::string_view deviceInfo);

// The update lines for `outcome`, always with Exit.
StatusView UpdateView(update::UpdateOutcome outcome);

// Writes the three lines of `area`, first to last.
void WriteLines(platform::Controls& controls, StatusArea area, const Lines& lines);

// Offers the view's button (each button's enabled state before its visibility, Update before
// Exit; the other is disabled and hidden), writes the three lines of `area` and shows the area.
void ShowStatus(platform::Controls& controls, StatusArea area, const StatusView& view);

}  // namespace app
