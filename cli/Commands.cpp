// The commands status, update, station and detect: they check and program through the engine and
// decide each device's result and the exit code; the report writes them. See Cli.h.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Report.h"
#include "platform/UniqueResource.h"
#include "update/UpdateRun.h"

namespace cli {

std::vector<Entry> Inspect(updatelib::LibraryGateway& library, bool* complete) {
  const device::DeviceList list = device::ListDevices(library);
  std::vector<Entry> entries;
  if (complete) *complete = list.count >= 0 && list.count <= static_cast<int>(list.paths.size());
  for (std::size_t i = 0; i < list.listed; ++i) {
    if (!list.usable[i]) {
      if (complete) *complete = false;
      continue;
    }
    Entry entry;
    entry.index = static_cast<int>(i) + 1;
    entry.path = list.paths[i];
    entry.check = device::CheckDevice(library, entry.path);
    entries.push_back(entry);
  }
  return entries;
}

namespace {

using Clock = std::chrono::steady_clock;
using Mode = platform::Interrupts::Mode;
using Wait = platform::DeviceChanges::Wait;

// How long the station waits for a device change before it looks again anyway, and how quiet the
// changes must have been before it looks: the window's rescan delay.
constexpr std::chrono::milliseconds StationPoll{5000};
constexpr std::chrono::milliseconds Settle{device::RescanDelay};

long long MillisecondsSince(Clock::time_point started) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
}

// How long a command waits for another program's scan to end before it reports the device busy.
constexpr std::chrono::milliseconds LockWait{3000};
// How long the station waits for the lock between looks at Ctrl+C.
constexpr std::chrono::milliseconds StationLockPoll{1000};

constexpr std::string_view BusyText =
    "another Flashwright program is programming a device right now; try again when it has "
    "finished";

class Session {
 public:
  Session(const Options& options, const Services& services)
      : options_(options),
        services_(services),
        library_(services.faults),
        report_(options, services.output, services.log),
        attempts_(services.attempts, options.command == Command::Station
                                         ? update::Program::Station
                                         : update::Program::Update) {}

  // detect is a device-management system's detection script: exit code 0 always (anything else is
  // a detection that failed, and the system then never runs the install), and a line on standard
  // output only when it can vouch that no attached device needs the update. Whatever keeps it from
  // vouching (rights, library, a fault) is told on standard error and prints nothing, so the
  // system runs the install, whose own exit code then tells the truth.
  ExitCode Run() {
    const ExitCode exitCode = RunCommand();
    return options_.command == Command::Detect ? Success : exitCode;
  }

 private:
  ExitCode RunCommand() {
    try {
      if (!services_.elevation.IsElevated()) {
        return End(NotElevated,
                   "administrator rights are needed: run flashwright-cli from an elevated prompt");
      }
      // A record that cannot be kept stops the work before it starts: no device is touched.
      if (!options_.logFile.empty()) {
        if (const std::string error = services_.log.CheckWritable(options_.logFile);
            !error.empty()) {
          return End(ProgrammingFailed, "cannot write the log " + options_.logFile +
                                            ", so nothing was done: " + error);
        }
      }
      library_.Load(services_.modules);
      if (!library_.Bound()) {
        return End(LibraryMissing,
                   "the update library ZRFWUpdateDll.dll beside flashwright-cli.exe is missing "
                   "or incomplete");
      }
      updatelib::ConfigureUpdateLibrary(library_);
      // The station takes the lock for each look and each unit, and waits for it.
      if (options_.command == Command::Station) return Station();
      // Held to the end: no other program touches a device between the checks and the
      // programming, nor writes the records meanwhile.
      const platform::HeldLock lock(services_.programmingLock, LockWait);
      if (const std::optional<ExitCode> refusal = Refusal(lock.Result())) {
        return End(*refusal, refusalText_);
      }
      switch (options_.command) {
        case Command::Status:
          return Status();
        case Command::Update:
          return Update();
        case Command::Station:
          return Station();
        case Command::Detect:
          return Detect();
      }
    } catch (const std::exception& error) {
      return End(ProgrammingFailed, error.what());
    } catch (...) {
      return End(ProgrammingFailed, "an exception of an unknown kind");
    }
    return End(ProgrammingFailed, "unknown command");
  }

  ExitCode End(ExitCode exitCode, const std::string& error = {}) {
    report_.End(exitCode, entries_, error);
    return exitCode;
  }

  // Why the lock keeps the command from touching a device (then in refusalText_), if it does. A
  // lock found abandoned is ours: its holder died, perhaps while programming, which is told.
  std::optional<ExitCode> Refusal(platform::ProgrammingLock::Take take) {
    using Take = platform::ProgrammingLock::Take;
    switch (take) {
      case Take::Taken:
        return std::nullopt;
      case Take::Abandoned:
        services_.output.Err(
            "flashwright-cli: a Flashwright program ended while it held the programming lock, "
            "perhaps while programming a device (status shows an interrupted update)\n");
        return std::nullopt;
      case Take::Busy:
        refusalText_ = std::string(BusyText);
        return Locked;
      case Take::Failed:
        break;
    }
    refusalText_ =
        "the programming lock cannot be taken, so no device is touched; try again, or restart "
        "the PC if it persists";
    return ProgrammingFailed;
  }

  // The devices and what the records say of each; the records the devices end are ended, and a
  // confirmed update is logged. False when such a line could not be written.
  bool InspectAndReview() {
    bool complete = false;
    entries_ = Inspect(library_, &complete);
    std::vector<update::SeenDevice> seen;
    for (const Entry& entry : entries_) {
      seen.push_back({entry.path, entry.check.outcome == device::ScanOutcome::UpToDate});
    }
    bool logged = true;
    for (const update::Confirmed& confirmed : attempts_.Review(seen, complete)) {
      logged = report_.LogConfirmed(confirmed.record) && logged;
    }
    for (Entry& entry : entries_) {
      entry.remembered = attempts_.StateOf(entry.path);
      if (const platform::AttemptRecord* record = attempts_.RecordOf(entry.path)) {
        entry.record = *record;
      }
    }
    return logged;
  }

  // What a device's state contributes to status and detect.
  static Verdict StateVerdict(const Entry& entry) {
    if (!entry.Updatable()) return Verdict::NotUpdatable;
    if (!entry.NeedsUpdate()) return Verdict::UpToDate;
    if (entry.Pending()) return Verdict::PendingPowerCycle;
    return entry.Interrupted() ? Verdict::Interrupted : Verdict::NeedsUpdate;
  }

  ExitCode Status() {
    InspectAndReview();
    report_.Table(entries_);
    if (entries_.empty()) return End(NoDevice, "no compatible device is attached");
    std::vector<Verdict> verdicts;
    for (const Entry& entry : entries_) verdicts.push_back(StateVerdict(entry));
    return End(ExitCodeOf(Command::Status, verdicts));
  }

  // No attached device needs the update: none is attached (a PC without the device has nothing to
  // install), or every one is at the target or waits for its power cycle after an update (a
  // deployment must not program it again). A device that fails a check is not vouched for: its
  // firmware is unknown or not ours to judge, and the install's exit code 5 is how the deployment
  // reports it; detect prints nothing for it, as for a device that needs the update, or whose
  // update was interrupted.
  ExitCode Detect() {
    InspectAndReview();
    std::vector<Verdict> verdicts;
    std::size_t pending = 0;
    for (const Entry& entry : entries_) {
      const Verdict verdict = StateVerdict(entry);
      verdicts.push_back(verdict);
      if (verdict == Verdict::PendingPowerCycle) ++pending;
      if (verdict == Verdict::NotUpdatable) {
        return End(NotUpdatable, "device " + std::to_string(entry.index) + " cannot be updated (" +
                                     std::string(StateWord(entry.check.outcome)) +
                                     "): the update reports it with exit code 5");
      }
    }
    const ExitCode exitCode = ExitCodeOf(Command::Status, verdicts);
    if (exitCode != UpdateNeeded) report_.Detected(entries_.size(), pending);
    return End(exitCode);
  }

  // Programs one checked device that needs the update, with Ctrl+C refused and the progress
  // shown meanwhile; its result and the call's duration go to `entry`. An attempt that throws
  // is logged as failed before the exception goes on.
  update::UpdateOutcome Program(Entry& entry, const std::string& versionBefore) {
    platform::Interrupts& interrupts = services_.interrupts;
    interrupts.Set(Mode::Ignore,
                   "Ctrl+C ignored: the device is being programmed. Do not unplug it.\n");
    const platform::ScopeExit allowInterrupts(
        [&] { interrupts.Set(options_.command == Command::Station ? Mode::Note : Mode::End); });
    report_.Programming(entry);
    const auto started = Clock::now();
    services_.progress.Begin("Programming");
    update::UpdateOutcome outcome = update::UpdateOutcome::Failed;
    std::string recordError;
    const std::string identity = entry.Identity();
    try {
      const platform::ScopeExit endProgress([&] { services_.progress.End(); });
      const platform::ScopeExit timed([&] { entry.durationMs = MillisecondsSince(started); });
      outcome = update::ProgramDevice(library_, entry.path, services_.sleepAndShutdown, attempts_,
                                      {identity, versionBefore}, recordError);
    } catch (const update::RecordFailure&) {
      throw;  // nothing was programmed, so there is no attempt to log
    } catch (...) {
      entry.result = DeviceResult::Failed;
      report_.Log(entry, versionBefore);
      throw;
    }
    if (!recordError.empty()) {
      services_.output.Err("flashwright-cli: cannot complete the record of the attempt: " +
                           recordError + " (the device's result stands)\n");
    }
    entry.result =
        outcome == update::UpdateOutcome::Updated ? DeviceResult::Updated : DeviceResult::Failed;
    return outcome;
  }

  // The devices update works on, or the exit code that ends it first.
  std::vector<Entry*> Choose(ExitCode& refusal, std::string& why) {
    std::vector<Entry*> chosen;
    if (options_.all) {
      for (Entry& entry : entries_) chosen.push_back(&entry);
    } else if (options_.device) {
      for (Entry& entry : entries_) {
        if (entry.index == *options_.device) chosen.push_back(&entry);
      }
      if (chosen.empty()) {
        refusal = Usage;
        why = "there is no device " + std::to_string(*options_.device) +
              " (run status to see the devices)";
      }
    } else if (entries_.size() > 1) {
      refusal = SeveralDevices;
      why = std::to_string(entries_.size()) +
            " devices are attached: choose one with --device N, or --all";
    } else {
      chosen.push_back(&entries_.front());
    }
    return chosen;
  }

  ExitCode Update() {
    if (!InspectAndReview()) {
      return End(ProgrammingFailed, "a confirmed update is not in the log, so nothing is done");
    }
    if (entries_.empty()) return End(NoDevice, "no compatible device is attached");
    ExitCode refusal = Success;
    std::string why;
    const std::vector<Entry*> chosen = Choose(refusal, why);
    if (refusal != Success) return End(refusal, why);
    for (Entry& entry : entries_) entry.result = DeviceResult::Skipped;

    std::vector<Verdict> verdicts;
    for (Entry* entry : chosen) {
      const std::string versionBefore = entry->Firmware();
      Verdict verdict = Verdict::UpToDate;
      if (!entry->Updatable()) {
        entry->result = DeviceResult::NotUpdatable;
        verdict = Verdict::NotUpdatable;
      } else if (!entry->NeedsUpdate()) {
        entry->result = DeviceResult::UpToDate;
      } else if (entry->Pending() && !options_.force) {
        // Programmed already; it reports the old version until its power cycle.
        entry->result = DeviceResult::Pending;
        verdict = Verdict::PendingPowerCycle;
      } else {
        const bool updated = Program(*entry, versionBefore) == update::UpdateOutcome::Updated;
        verdict = updated ? Verdict::Updated : Verdict::Failed;
      }
      const bool logged =
          entry->result == DeviceResult::Pending || report_.Log(*entry, versionBefore);
      report_.Result(*entry);
      verdicts.push_back(verdict);
      // The device's own result stands in the report; the run fails, and goes no further.
      if (!logged) {
        return End(ProgrammingFailed, "the result of device " + std::to_string(entry->index) +
                                          " (" + std::string(ResultWord(*entry->result)) +
                                          ") is not in the log, so nothing more is done");
      }
    }
    const ExitCode worst = ExitCodeOf(Command::Update, verdicts);
    return End(worst, worst == ProgrammingFailed ? "programming failed" : "");
  }

  // ---- station ----------------------------------------------------------------------------

  // Takes the programming lock for a look or a unit, waiting while another program holds it (with
  // a note, once). False at a Ctrl+C, or when the lock cannot be had at all (then told).
  bool TakeStationLock() {
    bool told = false;
    for (;;) {
      stationLock_.emplace(services_.programmingLock,
                           told ? StationLockPoll : std::chrono::milliseconds{0});
      const std::optional<ExitCode> refusal = Refusal(stationLock_->Result());
      if (!refusal) return true;
      stationLock_.reset();
      if (*refusal != Locked) {
        services_.output.Err("flashwright-cli: " + refusalText_ + "\n");
        lockFailed_ = true;
        return false;
      }
      if (!told) {
        services_.output.Err(
            "Another Flashwright program is programming a device: waiting for it to finish "
            "(Ctrl+C stops).\n");
        told = true;
      }
      if (services_.interrupts.Requested()) return false;
    }
  }

  // Lists the devices until `done` says so, waiting for device changes between looks; false at
  // a Ctrl+C. Each look holds the programming lock; it is still held when this returns true, so
  // that the unit found is programmed before any other program touches it.
  template <class Done>
  bool WaitForDevices(Done&& done, const std::string& prompt) {
    bool prompted = false;
    for (;;) {
      if (!TakeStationLock()) return false;
      bool complete = false;
      std::vector<Entry> entries = Inspect(library_, &complete);
      if (done(entries)) {
        entries_ = std::move(entries);
        return true;
      }
      stationLock_.reset();
      if (!prompted && !prompt.empty()) services_.output.Err(prompt);
      prompted = true;
      if (services_.deviceChanges.WaitForChange(Settle, StationPoll) == Wait::Interrupted ||
          services_.interrupts.Requested()) {
        return false;
      }
    }
  }

  // Waits for exactly one device; several ask for the others to go. False at a Ctrl+C.
  bool WaitForOneDevice() {
    bool severalTold = false;
    return WaitForDevices(
        [&](const std::vector<Entry>& entries) {
          if (entries.size() > 1 && !severalTold) {
            services_.output.Err("Several devices are attached: unplug all but one.\n");
            severalTold = true;
          }
          return entries.size() == 1;
        },
        "Waiting for a device...\n");
  }

  bool WaitForDeviceGone(const device::DevicePath& path, const std::string& prompt) {
    return WaitForDevices(
        [&](const std::vector<Entry>& entries) {
          for (const Entry& entry : entries) {
            if (entry.path == path) return false;
          }
          return true;
        },
        prompt);
  }

  bool WaitForPowerCycle() {
    services_.output.Err("Programmed. Power-cycle the device now.\n");
    for (;;) {
      switch (services_.deviceChanges.WaitForChange(Settle, StationPoll)) {
        case Wait::Changed:
          return true;
        case Wait::Interrupted:
          return false;
        case Wait::TimedOut:
          if (services_.interrupts.Requested()) return false;
          break;
      }
    }
  }

  // One device at the station, from its check to its outcome, with the lock its look took. A
  // programming attempt is logged as soon as it has ended, before the wait for the power cycle
  // (without the lock); the check after it is a second line.
  StationOutcome StationDevice() {
    Entry entry = entries_.front();
    const std::string versionBefore = entry.Firmware();
    const auto started = Clock::now();
    auto finish = [&](StationOutcome outcome) {
      entry.result = StationResult(outcome);
      entry.durationMs = MillisecondsSince(started);
      logFailed_ = !report_.Log(entry, versionBefore) || logFailed_;
      report_.Station(entry, outcome);
      return outcome;
    };
    if (!entry.Updatable()) return finish(StationOutcome::NotUpdatable);
    if (!entry.NeedsUpdate()) return finish(StationOutcome::AlreadyCurrent);
    const update::UpdateOutcome outcome = Program(entry, versionBefore);
    stationLock_.reset();
    if (outcome != update::UpdateOutcome::Updated) {
      return finish(StationOutcome::ProgrammingFailed);
    }
    logFailed_ = !report_.Log(entry, versionBefore) || logFailed_;
    // The new firmware runs after a power cycle: once the device has gone and come back (as
    // device changes tell; a quick one may never show it missing from a list), it is checked.
    if (!WaitForPowerCycle() || !WaitForOneDevice()) {
      report_.Station(entry, StationOutcome::Unverified);
      return StationOutcome::Unverified;
    }
    entry.check = entries_.front().check;
    return finish(entry.Updatable() && !entry.NeedsUpdate() ? StationOutcome::Verified
                                                            : StationOutcome::WrongAfterPowerCycle);
  }

  // Each unit that reached a verdict counts as done, a programmed one that was not verified
  // included; the exit code is the worst verdict: 1 for a failure, else 3010 for an unverified
  // unit (it needs its power cycle and a check), else 0. A log line that cannot be written ends
  // the run with 1 once its unit has its verdict, before the next unit.
  ExitCode Station() {
    services_.interrupts.Set(Mode::Note);
    services_.deviceChanges.Watch();
    int done = 0;
    bool anyFailed = false;
    bool unverified = false;
    while (!options_.count || done < *options_.count) {
      if (!WaitForOneDevice()) break;
      const ExitCode verdict = StationExitCode(StationDevice());
      stationLock_.reset();
      ++done;
      anyFailed = anyFailed || verdict == ProgrammingFailed;
      if (verdict == Updated) {
        unverified = true;
        break;
      }
      if (logFailed_) break;
      if (options_.count && done >= *options_.count) break;
      if (!WaitForDeviceGone(entries_.front().path, "Unplug the device and plug in the next.\n")) {
        break;
      }
      stationLock_.reset();
    }
    stationLock_.reset();
    if (logFailed_) {
      services_.output.Err("flashwright-cli: stopped: the log " + options_.logFile +
                           " could not be written for the last unit, and no further unit is "
                           "programmed\n");
    }
    report_.StationSummary(done, anyFailed, unverified);
    return anyFailed || lockFailed_ || logFailed_ ? ProgrammingFailed
           : unverified                           ? Updated
                                                  : Success;
  }

  const Options& options_;
  const Services& services_;
  updatelib::LibraryGateway library_;
  Report report_;
  update::Attempts attempts_;
  std::vector<Entry> entries_;  // the last list, which a document at the end shows
  std::string refusalText_;     // why the lock refused, for the message
  std::optional<platform::HeldLock> stationLock_;  // the station's lock for one look or unit
  bool lockFailed_ = false;                        // the station stopped: no lock could be had
  bool logFailed_ = false;                         // station: a unit's line could not be written
};

}  // namespace

int Run(const Options& options, const Services& services) {
  Session session(options, services);
  return session.Run();
}

int Main(const std::vector<std::string>& arguments, const Services& services) {
  std::string version = "unknown";
  if (const auto fileVersion = services.versionRecord.ReadOwnFileVersion()) {
    version = std::to_string(fileVersion->mostSignificant >> 16) + "." +
              std::to_string(fileVersion->mostSignificant & 0xFFFF) + "." +
              std::to_string(fileVersion->leastSignificant >> 16) + "." +
              std::to_string(fileVersion->leastSignificant & 0xFFFF);
  }
  const CommandLine commandLine = ParseCommandLine(arguments, version);
  if (!commandLine.options) {
    if (commandLine.exitCode == Success) {
      services.output.Out(commandLine.text);
    } else if (commandLine.json) {
      services.output.Out(UsageErrorDocument(commandLine.text));
    } else {
      services.output.Err("flashwright-cli: " + commandLine.text + "\n");
    }
    return commandLine.exitCode;
  }
  return Run(*commandLine.options, services);
}

}  // namespace cli
