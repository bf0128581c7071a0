// Programming one device: the attempt's record, the library's preparation and its blocking
// programming call, and the outcome. What is shown of it is the caller's matter; the caller holds
// the machine-wide programming lock.
#pragma once

#include <string_view>

#include "platform/Platform.h"
#include "update/Attempts.h"
#include "updatelib/Gateway.h"

namespace update {

inline constexpr std::string_view BlockReason = "Firmware update in progress";

enum class UpdateOutcome { Updated, Failed };

// What the attempt's record says of the device before it is programmed (the library's bytes).
struct AttemptFacts {
  std::string_view identity;
  std::string_view versionBefore;
};

// Prepares the library's customised settings for programming; always succeeds. The path is not
// passed on.
bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char* workingPath);

// Whether programming may go ahead when its intent cannot be recorded. The command line needs the
// record (an unattended run learns from it later that an attempt was cut short); the window's job
// is to program the device, and the record only serves the accounting.
enum class Intent { Required, BestEffort };

// Programs the device at `path`, keeping the machine awake and a shutdown asking first meanwhile.
// The attempt is recorded before the programming call and completed with its outcome after it.
// When the intent cannot be recorded: Intent::Required throws RecordFailure and programs nothing;
// Intent::BestEffort programs all the same and says why in `recordError`. An error completing the
// record is left in `recordError` too. A library fault goes on as LibraryFault, recorded as
// failed, with the block released.
UpdateOutcome ProgramDevice(updatelib::LibraryGateway& library, const updatelib::DevicePath& path,
                            platform::SleepAndShutdownBlock& sleepAndShutdown, Attempts& attempts,
                            const AttemptFacts& facts, std::string& recordError,
                            Intent intent = Intent::Required);

}  // namespace update
