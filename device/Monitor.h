// Device-change monitoring: a burst of device changes gives one rescan, RescanDelay after the
// last of them; changes during an update start none.
#pragma once

#include <cstdint>

#include "core/Rescan.h"
#include "core/SharedState.h"
#include "platform/Platform.h"

namespace device {

using core::RescanDelay;
using core::RescanTimerId;

// Device-change event codes, as the platform delivers them.
inline constexpr std::uint32_t DeviceNodesChanged = 0x0007;
inline constexpr std::uint32_t DeviceArrival = 0x8000;
inline constexpr std::uint32_t DeviceRemoveComplete = 0x8004;

// The events that (re)start the rescan: a removal and a change of the device nodes. An arrival is
// followed by a node change anyway.
constexpr bool StartsRescan(std::uint32_t event) {
  return event == DeviceRemoveComplete || event == DeviceNodesChanged;
}

// Each accepted device change asks a window with this title, whichever program shows it, to close.
inline constexpr const char* PromptWindowTitle = "Message";

// Only the event code is looked at, never the event's data. Removal-complete and node-change
// events (re)start the rescan timer and close a window titled "Message"; every other code is
// ignored (an arrival is followed by a node change anyway). While an update runs, every event
// only cancels a pending rescan.
void OnDeviceChange(std::uint32_t event, const core::SharedState& state, platform::Timers& timers,
                    platform::WindowCloser& closer);

// True when `timerId` is the rescan timer, which is then cancelled so that it acts once: the
// caller runs the scan.
bool OnRescanTimer(std::uintptr_t timerId, platform::Timers& timers);

}  // namespace device
