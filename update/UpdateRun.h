// The firmware update run: programs the device the last scan selected and shows the result.
#pragma once

#include "app/SharedState.h"
#include "platform/Platform.h"
#include "updatelib/Gateway.h"

namespace update {

inline constexpr std::string_view UpdateFailText = "Update Fail!";
inline constexpr std::string_view CriticalWorkReason = "Firmware update in progress";

struct UpdateServices {
  updatelib::LibraryGateway& library;
  app::SharedState& state;
  platform::Controls& controls;
  platform::MessagePump& pump;
  platform::Timers& timers;
  platform::CriticalWork& criticalWork;
};

// Prepares the library's customised settings for programming; always succeeds. The path is not
// passed on.
bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char* path);

// The handler of UpdateBtn. Sets UpdateInProgress for its whole run, cancels a pending rescan,
// shows the update lines, lets them paint, programs the device (blocking; the system is kept
// awake and a shutdown asks first), shows the result with Exit, lets it paint, and clears the
// flag. A missing selection or a failed programming call shows "Update Fail!". When the run throws
// (the library faulted), "Update Fail!" with Exit is shown and the flag and the keep-awake request
// are released before the exception goes on.
void UpdateBtnClick(const UpdateServices& services);

}  // namespace update
