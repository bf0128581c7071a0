// One run of a command: it checks elevation and the log, binds and configures the library, holds
// the programming lock as the command's row says, and runs the row's handler, which checks and
// programs through the engine and decides each device's result and the exit code; the report
// writes them. Session.cpp holds the run and status, update and detect; Station.cpp the station.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Devices.h"
#include "cli/Report.h"
#include "platform/Console.h"
#include "update/Attempts.h"
#include "update/UpdateRun.h"
#include "updatelib/Gateway.h"

namespace cli {

// How long a command (and the station, before it says it waits) waits for another program's scan
// to end before it takes the device for busy.
inline constexpr std::chrono::milliseconds LockWait{3000};

// How long the message to the person at the PC stays up unanswered: a deployment retried later
// tells again, so old messages do not pile up.
inline constexpr std::chrono::seconds NoticeShown{3600};

// A command's exit code over what each of its devices contributes: the worst device decides.
// update never gives NeedsUpdate or Interrupted, and status (and detect) never Updated or Failed,
// so one order serves both: 1 before 10 before 5 before 3010 before 0.
ExitCode ExitCodeOf(const std::vector<Verdict>& verdicts);

class Session {
 public:
  Session(const Options& options, const Services& services);

  ExitCode Run();

  // The handlers of the command table.
  ExitCode Status();
  ExitCode Update();
  ExitCode Station();
  ExitCode Detect();

 private:
  using Clock = std::chrono::steady_clock;

  // A device's line, held back while the programming lock is held.
  struct HeldLine {
    Entry entry;
    std::string versionBefore;
    ExitCode exitCode = Success;
    std::string reason;
  };

  ExitCode RunCommand();
  void BeginTrail();
  ExitCode End(ExitCode exitCode, const std::string& error = {});
  std::optional<ExitCode> Refusal(platform::ProgrammingLock::Take take);
  // Lets go of the programming lock, then writes the lines held back while it was held. Returns
  // why the --log file did not take one of them (told on standard error), empty when it did.
  std::string LetGo();
  void TellOfPowerCycles();
  void KeepStatus(ExitCode ended);
  void InspectAndReview();
  update::UpdateOutcome Program(Entry& entry, const std::string& versionBefore);
  std::vector<Entry*> Choose(ExitCode& refusal, std::string& why);
  static long long MillisecondsSince(Clock::time_point started);

  // The station's steps (Station.cpp).
  bool TakeStationLock();
  template <class Done>
  bool WaitForDevices(Done&& done, const std::string& prompt);
  bool WaitForOneDevice();
  bool WaitForDeviceGone(const device::DevicePath& path, const std::string& prompt);
  bool WaitForPowerCycle();
  StationOutcome StationDevice();
  bool IdentifyUnit(StationUnit& unit);

  const Options& options_;
  const Services& services_;
  updatelib::LibraryGateway library_;
  Report report_;
  update::Attempts attempts_;
  std::vector<Entry> entries_;  // the last list, which a document at the end shows
  // The command's lock, held from the checks to the end of the work, and the lines held back
  // meanwhile: nothing another user can hold up (a log) is written while the lock is held.
  std::optional<platform::HeldLock> lock_;
  std::vector<HeldLine> heldLines_;
  std::vector<update::Ended> ended_;  // records the review ended, for their lines
  std::string refusalText_;           // why the lock refused, for the message
  // What Ctrl+C does once a programming has ended: end the command, or (station) be noted.
  platform::Interrupts::Mode afterProgramming_ = platform::Interrupts::Mode::End;
  std::optional<platform::HeldLock> stationLock_;  // the station's lock for one look or unit
  bool lockFailed_ = false;                        // the station stopped: no lock could be had
  bool logFailed_ = false;                         // station: a unit's line could not be written
  bool trailBegun_ = false;                        // the run's lines are to be written
  std::optional<std::int64_t> lookedAt_;           // when the run listed the devices, if it did
};

}  // namespace cli
