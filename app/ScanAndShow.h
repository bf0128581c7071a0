// The scan as the window runs it: the engine's scan between clearing the window and showing the
// outcome, with the selection and the identification recorded for the update run.
#pragma once

#include "app/SharedState.h"
#include "device/Scan.h"
#include "platform/Platform.h"
#include "updatelib/Gateway.h"

namespace app {

// Hides both buttons and both status areas, blanks the scan lines, clears the selection, scans,
// records the identification read and a device needing an update, and shows the outcome with its
// button. When the scan throws (the library faulted), the window shows "no device" with Exit and
// nothing selected before the exception goes on, so it is never left without lines or a button.
// Returns what the scan found.
device::ScanReport ScanAndShow(updatelib::LibraryGateway& library, SharedState& state,
                               platform::Controls& controls);

}  // namespace app
