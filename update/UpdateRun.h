// Programming one device: the library's preparation and its blocking programming call, under the
// machine-wide lock, and the outcome. What is shown of it is the caller's matter.
#pragma once

#include <string_view>

#include "platform/Platform.h"
#include "updatelib/Gateway.h"

namespace update {

inline constexpr std::string_view BlockReason = "Firmware update in progress";

// Locked: another program was programming a device, so this one was not touched.
enum class UpdateOutcome { Updated, Failed, Locked };

// Prepares the library's customised settings for programming; always succeeds. The path is not
// passed on.
bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char* workingPath);

// Programs the device at `path` under the machine-wide programming lock, keeping the machine
// awake and a shutdown asking first meanwhile. Locked, without a library call, when another
// program holds the lock. A library fault goes on as LibraryFault, with the lock and the block
// released.
UpdateOutcome ProgramDevice(updatelib::LibraryGateway& library, const updatelib::DevicePath& path,
                            platform::SleepAndShutdownBlock& sleepAndShutdown,
                            platform::ProgrammingLock& lock);

}  // namespace update
