// The commands status, update, station and detect: they check and program through the engine and
// decide each device's result and the exit code; the report writes them. See Cli.h.
#include <chrono>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Report.h"
#include "platform/UniqueResource.h"
#include "update/UpdateRun.h"

namespace cli {

std::vector<Entry> Inspect(updatelib::LibraryGateway& library) {
  const device::DeviceList list = device::ListDevices(library);
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < list.listed; ++i) {
    if (!list.usable[i]) continue;
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

// The exit code of one device's update, worst first: 1, 5, 3010, 0.
int Severity(ExitCode code) {
  switch (code) {
    case ProgrammingFailed:
      return 3;
    case NotUpdatable:
      return 2;
    case Updated:
      return 1;
    default:
      return 0;
  }
}

class Session {
 public:
  Session(const Options& options, const Services& services)
      : options_(options),
        services_(services),
        library_(services.faults),
        report_(options, services.output, services.log) {}

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

  ExitCode Status() {
    entries_ = Inspect(library_);
    report_.Table(entries_);
    if (entries_.empty()) return End(NoDevice, "no compatible device is attached");
    bool needsUpdate = false, notUpdatable = false;
    for (const Entry& entry : entries_) {
      needsUpdate = needsUpdate || entry.NeedsUpdate();
      notUpdatable = notUpdatable || !entry.Updatable();
    }
    return End(needsUpdate ? UpdateNeeded : notUpdatable ? NotUpdatable : Success);
  }

  // No attached device needs the update: none is attached (a PC without the device has nothing to
  // install), or every one is at the target. A device that fails a check is not vouched for: its
  // firmware is unknown or not ours to judge, and the install's exit code 5 is how the deployment
  // reports it; detect prints nothing for it, as for a device that needs the update.
  ExitCode Detect() {
    entries_ = Inspect(library_);
    bool needsUpdate = false;
    for (const Entry& entry : entries_) {
      needsUpdate = needsUpdate || entry.NeedsUpdate();
      if (!entry.Updatable()) {
        return End(NotUpdatable, "device " + std::to_string(entry.index) + " cannot be updated (" +
                                     std::string(StateWord(entry.check.outcome)) +
                                     "): the update reports it with exit code 5");
      }
    }
    if (!needsUpdate) report_.Detected(entries_.size());
    return End(needsUpdate ? UpdateNeeded : Success);
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
    try {
      const platform::ScopeExit endProgress([&] { services_.progress.End(); });
      const platform::ScopeExit timed([&] { entry.durationMs = MillisecondsSince(started); });
      outcome = update::ProgramDevice(library_, entry.path, services_.sleepAndShutdown,
                                      services_.programmingLock);
    } catch (...) {
      entry.result = DeviceResult::Failed;
      report_.Log(entry, versionBefore);
      throw;
    }
    entry.result = outcome == update::UpdateOutcome::Updated  ? DeviceResult::Updated
                   : outcome == update::UpdateOutcome::Locked ? DeviceResult::Skipped
                                                              : DeviceResult::Failed;
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
    entries_ = Inspect(library_);
    if (entries_.empty()) return End(NoDevice, "no compatible device is attached");
    ExitCode refusal = Success;
    std::string why;
    const std::vector<Entry*> chosen = Choose(refusal, why);
    if (refusal != Success) return End(refusal, why);
    for (Entry& entry : entries_) entry.result = DeviceResult::Skipped;

    ExitCode worst = Success;
    for (Entry* entry : chosen) {
      const std::string versionBefore = entry->Firmware();
      ExitCode code = Success;
      if (!entry->Updatable()) {
        entry->result = DeviceResult::NotUpdatable;
        code = NotUpdatable;
      } else if (!entry->NeedsUpdate()) {
        entry->result = DeviceResult::UpToDate;
      } else {
        const update::UpdateOutcome outcome = Program(*entry, versionBefore);
        if (outcome == update::UpdateOutcome::Locked) {
          return End(Locked, "another Flashwright program is programming a device right now");
        }
        code = outcome == update::UpdateOutcome::Updated ? Updated : ProgrammingFailed;
      }
      const bool logged = report_.Log(*entry, versionBefore);
      report_.Result(*entry);
      if (Severity(code) > Severity(worst)) worst = code;
      // The device's own result stands in the report; the run fails, and goes no further.
      if (!logged) {
        return End(ProgrammingFailed, "the result of device " + std::to_string(entry->index) +
                                          " (" + std::string(ResultWord(*entry->result)) +
                                          ") is not in the log, so nothing more is done");
      }
    }
    return End(worst, worst == ProgrammingFailed ? "programming failed" : "");
  }

  // ---- station ----------------------------------------------------------------------------

  // Lists the devices until `done` says so, waiting for device changes between looks; false at
  // a Ctrl+C.
  template <class Done>
  bool WaitForDevices(Done&& done, const std::string& prompt) {
    bool prompted = false;
    for (;;) {
      std::vector<Entry> entries = Inspect(library_);
      if (done(entries)) {
        entries_ = std::move(entries);
        return true;
      }
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

  // One device at the station, from its check to its outcome. A programming attempt is logged
  // as soon as it has ended, before the wait for the power cycle; the check after it is a second
  // line.
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
    if (outcome != update::UpdateOutcome::Updated) {
      return finish(outcome == update::UpdateOutcome::Locked ? StationOutcome::Locked
                                                             : StationOutcome::ProgrammingFailed);
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
    }
    if (logFailed_) {
      services_.output.Err("flashwright-cli: stopped: the log " + options_.logFile +
                           " could not be written for the last unit, and no further unit is "
                           "programmed\n");
    }
    report_.StationSummary(done, anyFailed, unverified);
    return anyFailed || logFailed_ ? ProgrammingFailed : unverified ? Updated : Success;
  }

  const Options& options_;
  const Services& services_;
  updatelib::LibraryGateway library_;
  Report report_;
  std::vector<Entry> entries_;  // the last list, which a document at the end shows
  bool logFailed_ = false;      // station: a unit's line could not be written
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
