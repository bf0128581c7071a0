// Device-change monitoring; see Monitor.h.
#include "device/Monitor.h"

namespace device {

void OnDeviceChange(std::uint32_t event, const core::SharedState& state, platform::Timers& timers,
                    platform::WindowCloser& closer) {
  if (state.UpdateInProgress) {
    timers.CancelTimer(RescanTimerId);
    return;
  }
  if (!StartsRescan(event)) return;
  timers.CancelTimer(RescanTimerId);
  timers.StartTimer(RescanTimerId, RescanDelay);
  closer.CloseWindowTitled(PromptWindowTitle);
}

bool OnRescanTimer(std::uintptr_t timerId, platform::Timers& timers) {
  if (timerId != RescanTimerId) return false;
  timers.CancelTimer(RescanTimerId);
  return true;
}

}  // namespace device
