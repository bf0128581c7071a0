// The firmware update run: programs the device the last scan selected and shows the result.
#pragma once

#include <string_view>

#include "core/SharedState.h"
#include "core/StatusView.h"
#include "platform/Platform.h"
#include "updatelib/Gateway.h"

namespace update {

inline constexpr std::string_view UpdateFailText = "Update Fail!";
inline constexpr std::string_view BlockReason = "Firmware update in progress";

// Locked: another program was programming a device, so this one was not touched.
enum class UpdateOutcome { Updated, Failed, Locked };

struct UpdateServices {
  updatelib::LibraryGateway& library;
  core::SharedState& state;
  platform::Controls& controls;
  platform::MessagePump& pump;
  platform::Timers& timers;
  platform::SleepAndShutdownBlock& sleepAndShutdown;
  platform::ProgrammingLock& programmingLock;
};

// Prepares the library's customised settings for programming; always succeeds. The path is not
// passed on.
bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char* workingPath);

// Programs the device at `path` under the machine-wide programming lock, keeping the machine
// awake and a shutdown asking first meanwhile. Locked, without a library call, when another
// program holds the lock.
UpdateOutcome ProgramDevice(updatelib::LibraryGateway& library, const updatelib::DevicePath& path,
                            platform::SleepAndShutdownBlock& sleepAndShutdown,
                            platform::ProgrammingLock& lock);

// The lines and button for an update's outcome (always Exit). Locked reads as a failure.
core::StatusView ViewOf(UpdateOutcome outcome);

// The handler of UpdateBtn. Sets UpdateInProgress for its whole run, cancels a pending rescan,
// shows the update lines, lets them paint, programs the device (blocking), shows the result with
// Exit, lets it paint, and clears the flag. When programming throws (the library faulted), the
// failure is shown and the flag and the block released before the exception goes on.
void UpdateBtnClick(const UpdateServices& services);

}  // namespace update
