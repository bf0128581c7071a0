// The program's exit codes: one table, which --help prints and the README repeats twice, as the
// programs' codes and as device-management systems read them (a unit test holds the README to it).
#pragma once

#include <string_view>

namespace cli {

enum ExitCode : int {
  Success = 0,
  ProgrammingFailed = 1,
  Usage = 2,
  NoDevice = 3,
  SeveralDevices = 4,
  NotUpdatable = 5,
  LibraryMissing = 6,
  UpdateNeeded = 10,
  Updated = 3010,
  NotElevated = 740,
  // The code Windows installers give for "another installation is in progress", which
  // device-management systems retry.
  Locked = 1618,
};

// How the systems that roll software out (Intune, Configuration Manager) read an install's return
// code by default, which is what a deployment running update sees.
enum class Reading { Success, SoftRestart, Retry, Failure };

inline constexpr std::string_view ReadingWords[] = {"success", "soft restart", "retry", "failure"};

struct ExitCodeRow {
  ExitCode code;
  Reading reading;
  std::string_view name;
  std::string_view meaning;  // one sentence, as --help and the README show it
};

// In the order --help lists them: success first, then the codes a script acts on.
inline constexpr ExitCodeRow ExitCodes[] = {
    {Success, Reading::Success, "Success",
     "success: every device checked is up to date, or nothing needed doing"},
    {Updated, Reading::SoftRestart, "Updated",
     "programmed successfully, now or by an earlier run; power-cycle the device to run the new "
     "firmware"},
    {UpdateNeeded, Reading::Failure, "UpdateNeeded",
     "status: at least one device needs the update"},
    {ProgrammingFailed, Reading::Failure, "ProgrammingFailed",
     "programming failed on a device (or the library faulted, or the log could not be written)"},
    {Usage, Reading::Failure, "Usage", "usage error"},
    {NoDevice, Reading::Failure, "NoDevice", "no compatible device attached"},
    {SeveralDevices, Reading::Failure, "SeveralDevices",
     "several devices attached and neither --device nor --all given"},
    {NotUpdatable, Reading::Failure, "NotUpdatable",
     "the device cannot be updated (a check failed: chip, running code, version, image, "
     "identification)"},
    {LibraryMissing, Reading::Failure, "LibraryMissing",
     "the update library (ZRFWUpdateDll.dll, beside this program) is missing or incomplete"},
    {NotElevated, Reading::Failure, "NotElevated", "not running with administrator rights"},
    {Locked, Reading::Retry, "Locked",
     "another Flashwright program is programming a device right now (retry later)"},
};

}  // namespace cli
