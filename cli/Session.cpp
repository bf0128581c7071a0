// A command's run, and the commands status, update and detect: they check and program through the
// engine and decide each device's result and the exit code; the report writes them. See Session.h.
#include "cli/Session.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "cli/Support.h"
#include "platform/Phases.h"
#include "platform/UniqueResource.h"
#include "trail/Writer.h"

namespace cli {
namespace {

using Mode = platform::Interrupts::Mode;

constexpr std::string_view BusyText =
    "another Flashwright program is programming a device right now; try again when it has "
    "finished";

constexpr std::string_view UnderWayText =
    "another Flashwright program is programming the device right now; try again when it has "
    "finished";

// What a device's state contributes to status and detect. A device another program is
// programming is busy whatever its checks say meanwhile: status ends with 1618 as when that
// program holds the lock (ask again later), and detect cannot vouch for it.
Verdict StateVerdict(const Entry& entry) {
  if (entry.UnderWay()) return Verdict::Busy;
  if (!entry.Updatable()) return Verdict::NotUpdatable;
  if (!entry.NeedsUpdate()) return Verdict::UpToDate;
  if (entry.Pending()) return Verdict::PendingPowerCycle;
  if (entry.DidNotTake()) return Verdict::DidNotTake;
  return entry.Interrupted() ? Verdict::Interrupted : Verdict::NeedsUpdate;
}

}  // namespace

ExitCode ExitCodeOf(const std::vector<Verdict>& verdicts) {
  // Each verdict's code; a verdict a command never gives has its nearest meaning.
  constexpr std::pair<Verdict, ExitCode> Codes[] = {
      {Verdict::UpToDate, Success},
      {Verdict::NeedsUpdate, UpdateNeeded},
      {Verdict::Interrupted, UpdateNeeded},
      {Verdict::DidNotTake, UpdateNeeded},
      {Verdict::Busy, Locked},
      {Verdict::NotUpdatable, NotUpdatable},
      {Verdict::PendingPowerCycle, Updated},
      {Verdict::Updated, Updated},
      {Verdict::Failed, ProgrammingFailed},
  };
  // Worst first. Busy before not updatable: asked again later, the busy device is done and the
  // other still reported.
  constexpr ExitCode Severity[] = {ProgrammingFailed, UpdateNeeded, Locked,
                                   NotUpdatable,      Updated,      Success};
  auto rank = [&](ExitCode code) {
    return static_cast<std::size_t>(std::find(std::begin(Severity), std::end(Severity), code) -
                                    std::begin(Severity));
  };
  ExitCode worst = Success;
  for (const Verdict verdict : verdicts) {
    for (const auto& [listed, code] : Codes) {
      if (listed == verdict && rank(code) < rank(worst)) worst = code;
    }
  }
  return worst;
}

Session::Session(const Options& options, const Services& services)
    : options_(options),
      services_(services),
      library_(services.faults),
      report_(options, services.output, services.log, services.events),
      attempts_(services.attempts, options.command->program) {}

ExitCode Session::Run() {
  const ExitCode exitCode = RunCommand();
  return options_.command->alwaysSucceeds ? Success : exitCode;
}

ExitCode Session::RunCommand() {
  platform::EndOfPhase("services and command line");
  try {
    if (!services_.elevation.IsElevated()) {
      return End(NotElevated,
                 "administrator rights are needed: run flashwright-cli from an elevated prompt");
    }
    BeginTrail();
    // A record that cannot be kept stops the work before it starts: no device is touched.
    if (!options_.logFile.empty()) {
      if (const std::string error = services_.log.CheckWritable(options_.logFile); !error.empty()) {
        report_.ForgetLogFile();
        return End(ProgrammingFailed,
                   "cannot write the log " + options_.logFile + ", so nothing was done: " + error);
      }
    }
    library_.Load(services_.modules);
    if (!library_.Bound()) {
      return End(LibraryMissing,
                 "the update library ZRFWUpdateDll.dll beside flashwright-cli.exe is missing "
                 "or incomplete");
    }
    updatelib::ConfigureUpdateLibrary(library_);
    platform::EndOfPhase("library set up");
    const auto handler = options_.command->handler;
    if (!options_.command->lockedThroughout) return (this->*handler)();
    // Held to the end of the work: no other program touches a device between the checks and
    // the programming, nor writes the records meanwhile.
    lock_.emplace(services_.programmingLock, LockWait);
    platform::EndOfPhase("lock");
    if (const std::optional<ExitCode> refusal = Refusal(lock_->Result())) {
      return End(*refusal, refusalText_);
    }
    return (this->*handler)();
  } catch (const std::exception& error) {
    return End(ProgrammingFailed, error.what());
  } catch (...) {
    return End(ProgrammingFailed, "an exception of an unknown kind");
  }
}

// The fields of the run's lines, and the warning when others may change the program's folder.
void Session::BeginTrail() {
  const std::string warning = services_.elevation.ProgramFolderOpenToOthers();
  platform::EndOfPhase("rights and the program folder");
  if (!warning.empty()) services_.output.Err("flashwright-cli: warning: " + warning + "\n");
  report_.BeginTrail(services_.versionRecord, warning);
  platform::EndOfPhase("run line: version, computer, account");
  trailBegun_ = true;
}

// A run that looked at devices leaves a line for each, or one for itself when it did nothing with
// a device (none was there, another program held the lock, it stopped on an error). status and
// detect tell the state; a line that cannot be written is told, and their exit code stands.
//
// Every line is written once the programming lock is let go. The work's own lines (update's
// devices) that the --log file does not take end the run with 1; the device's result stands.
ExitCode Session::End(ExitCode exitCode, const std::string& error) {
  const auto handler = options_.command->handler;
  const bool looksOnly = handler == &Session::Status || handler == &Session::Detect;
  std::string message = error;
  if (const std::string notLogged = LetGo(); !notLogged.empty() && !looksOnly) {
    exitCode = ProgrammingFailed;
    message =
        message.empty() || message == "programming failed" ? notLogged : message + "; " + notLogged;
  }
  report_.End(exitCode, entries_, message);
  // The lines tell the exit code the run ends with: detect's is always 0.
  const ExitCode ended = options_.command->alwaysSucceeds ? Success : exitCode;
  if (trailBegun_ && report_.Lines() == 0) {
    if (!entries_.empty() && looksOnly) {
      report_.LogStates(entries_, ended);
    } else {
      // A look that found no device is no error: detect says so with 0.
      const bool noDevice = exitCode == NoDevice || (looksOnly && message.empty());
      report_.LogRun(noDevice             ? trail::State::NoDevice
                     : exitCode == Locked ? trail::State::Busy
                                          : trail::State::Error,
                     ended, message);
    }
  }
  if (lookedAt_) KeepStatus(ended);
  return exitCode;
}

// The machine's summary for inventory tools, from the run's look at the devices: each device's
// standing (its result's class, else its state's), the worst of them by trail::Standing's order
// (what needs a person first), or no-device. A summary that cannot be kept is told and stops
// nothing.
void Session::KeepStatus(ExitCode ended) {
  platform::StatusSummary summary;
  summary.target = std::string(device::TargetFirmwareVersion);
  std::optional<trail::Standing> worst;
  for (const Entry& entry : entries_) {
    const trail::Standing standing = StandingOf(entry);
    if (!worst || standing < *worst) worst = standing;
    if (!summary.devices.empty()) summary.devices += ' ';
    summary.devices += trail::WordOf(standing);
  }
  summary.state =
      std::string(worst ? trail::WordOf(*worst) : trail::WordOf(trail::State::NoDevice));
  summary.deviceCount = static_cast<std::uint32_t>(entries_.size());
  summary.lastLook = trail::UtcTime(*lookedAt_);
  summary.exitCode = static_cast<std::uint32_t>(ended);
  summary.program = std::string(trail::WordOf(trail::Program::Cli));
  summary.command =
      std::string(trail::WordOf(options_.command->trail.value_or(trail::Command::Status)));
  if (const std::string error = services_.status.Write(summary); !error.empty()) {
    services_.output.Err("flashwright-cli: warning: the summary for inventory tools is not kept: " +
                         error + " (the run's result stands)\n");
  }
}

// When the run has no desktop of its own (a deployment system's, as SYSTEM), one message asks the
// person at the console to power-cycle the devices that wait for it; their lines say whether it
// was sent. Called with the lock let go; a message that cannot be sent changes no exit code.
void Session::TellOfPowerCycles() {
  std::vector<std::string> names;
  for (const Entry& entry : entries_) {
    if (StandingOf(entry) != trail::Standing::WaitsForPowerCycle) continue;
    const std::string identity = services_.output.FromAnsi(entry.Identity());
    names.push_back(identity.empty() ? "number " + std::to_string(entry.index) : identity);
  }
  if (names.empty() || services_.consoleUser.Interactive()) return;
  std::string which;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) which += i + 1 == names.size() ? " and " : ", ";
    which += names[i];
  }
  const bool one = names.size() == 1;
  const std::string text = std::string(one ? "The firmware of the USB storage device "
                                           : "The firmware of the USB storage devices ") +
                           which + " has been updated. To finish, switch " + (one ? "it" : "them") +
                           " off and on again (or unplug " + (one ? "it" : "them") + " and plug " +
                           (one ? "it" : "them") + " in again). Until then " +
                           (one ? "it runs" : "they run") + " the old firmware.";
  const std::string whyNot = services_.consoleUser.Tell(
      "Flashwright: a device needs switching off and on", text, NoticeShown);
  report_.Notified(whyNot.empty(),
                   whyNot.empty()
                       ? ""
                       : "the person at the PC was not told to power-cycle the device: " + whyNot);
  if (!whyNot.empty()) {
    services_.output.Err(
        "flashwright-cli: warning: the person at the PC was not told to switch the device off and "
        "on: " +
        whyNot + "\n");
  }
}

std::string Session::LetGo() {
  lock_.reset();
  stationLock_.reset();
  if (options_.notify) TellOfPowerCycles();
  std::string notLogged;
  for (const update::Ended& ended : ended_) {
    if (!report_.LogEnded(ended) && notLogged.empty()) {
      notLogged = "the end of the earlier attempt's record of " +
                  services_.output.FromAnsi(ended.record.path) + " is not in the log";
    }
  }
  for (const HeldLine& held : heldLines_) {
    if (!report_.Log(held.entry, held.versionBefore, held.exitCode, held.reason) &&
        notLogged.empty()) {
      notLogged =
          "the result of device " + std::to_string(held.entry.index) + " (" +
          std::string(trail::WordOf(ResultOf(held.entry.result.value_or(DeviceResult::Skipped)))) +
          ") is not in the log";
    }
  }
  ended_.clear();
  heldLines_.clear();
  return notLogged;
}

// Why the lock keeps the command from touching a device (then in refusalText_), if it does. A
// lock found abandoned is ours: its holder died, perhaps while programming, which is told.
std::optional<ExitCode> Session::Refusal(platform::ProgrammingLock::Take take) {
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

// The devices and what the records say of each; the records the devices end are ended, each with
// a line that says why, written once the lock is let go.
void Session::InspectAndReview() {
  bool complete = false;
  const std::int64_t now = services_.attempts.Now();
  entries_ = Inspect(library_, &complete);
  lookedAt_ = now;
  platform::EndOfPhase("scan");
  for (update::Ended& ended : Review(entries_, attempts_, complete)) {
    ended_.push_back(std::move(ended));
  }
  platform::EndOfPhase("records");
}

long long Session::MillisecondsSince(Clock::time_point started) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
}

ExitCode Session::Status() {
  // Support's switch changes what the programs bind: said where the person who forgot it looks.
  if (services_.support.RecordingOn()) {
    const std::string why = NothingRecordedBecause(services_.support);
    services_.output.Err(why.empty()
                             ? "flashwright-cli: support's recording is on: this run is recorded "
                               "(flashwright-cli support record off ends it)\n"
                             : "flashwright-cli: support's recording is on, but nothing is "
                               "recorded: " +
                                   why + "\n");
  }
  platform::EndOfPhase("support's switch");
  InspectAndReview();
  report_.Table(entries_);
  platform::EndOfPhase("table");
  if (entries_.empty()) return End(NoDevice, "no compatible device is attached");
  std::vector<Verdict> verdicts;
  for (const Entry& entry : entries_) verdicts.push_back(StateVerdict(entry));
  return End(ExitCodeOf(verdicts));
}

// detect is a device-management system's detection script: exit code 0 always (anything else is a
// detection that failed, and the system then never runs the install: its row says so), and a line
// on standard output only when it can vouch that no attached device needs the update. Whatever
// keeps it from vouching (rights, library, a fault) is told on standard error and prints nothing,
// so the system runs the install, whose own exit code then tells the truth.
//
// No attached device needs the update: none is attached (a PC without the device has nothing to
// install), or every one is at the target or waits for its power cycle after an update (a
// deployment must not program it again). A device that fails a check is not vouched for: its
// firmware is unknown or not ours to judge, and the install's exit code 5 is how the deployment
// reports it; detect prints nothing for it, as for a device that needs the update, whose update
// was interrupted or did not take, or that another program is programming right now.
ExitCode Session::Detect() {
  InspectAndReview();
  std::vector<Verdict> verdicts;
  std::size_t pending = 0;
  for (const Entry& entry : entries_) {
    const Verdict verdict = StateVerdict(entry);
    verdicts.push_back(verdict);
    if (verdict == Verdict::PendingPowerCycle) ++pending;
    if (verdict == Verdict::NotUpdatable) {
      return End(NotUpdatable, "device " + std::to_string(entry.index) + " cannot be updated (" +
                                   std::string(trail::WordOf(trail::StateOf(entry.check.outcome))) +
                                   "): the update reports it with exit code 5");
    }
  }
  const ExitCode exitCode = ExitCodeOf(verdicts);
  if (exitCode == Success || exitCode == Updated) report_.Detected(entries_.size(), pending);
  return End(exitCode);
}

// Programs one checked device that needs the update, with Ctrl+C refused and the progress shown
// meanwhile; its result and the call's duration go to `entry`. An attempt that throws is logged as
// failed before the exception goes on.
update::UpdateOutcome Session::Program(Entry& entry, const std::string& versionBefore) {
  platform::Interrupts& interrupts = services_.interrupts;
  interrupts.Set(Mode::Ignore,
                 "Ctrl+C ignored: the device is being programmed. Do not unplug it.\n");
  const platform::ScopeExit allowInterrupts([&] { interrupts.Set(afterProgramming_); });
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
  } catch (const update::RecordFailure& failure) {
    // Nothing was programmed, so there is no attempt to log.
    throw update::RecordFailure(std::string(failure.what()) + ", so nothing was programmed");
  } catch (const std::exception& failure) {
    entry.result = DeviceResult::Failed;
    heldLines_.push_back({entry, versionBefore, ProgrammingFailed, failure.what()});
    throw;
  } catch (...) {
    entry.result = DeviceResult::Failed;
    heldLines_.push_back(
        {entry, versionBefore, ProgrammingFailed, "an exception of an unknown kind"});
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
std::vector<Entry*> Session::Choose(ExitCode& refusal, std::string& why) {
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

ExitCode Session::Update() {
  InspectAndReview();
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
    std::string reason;
    if (entry->UnderWay()) {
      // Not touched: the other program's programming must not be disturbed.
      entry->result = DeviceResult::Skipped;
      verdict = Verdict::Busy;
      reason = std::string(UnderWayText);
    } else if (!entry->Updatable()) {
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
      if (!updated) reason = "programming failed";
    }
    verdicts.push_back(verdict);
    heldLines_.push_back({*entry, versionBefore, ExitCodeOf(verdicts), reason});
    report_.Result(*entry);
  }
  const ExitCode worst = ExitCodeOf(verdicts);
  return End(worst, worst == ProgrammingFailed ? "programming failed"
                    : worst == Locked          ? std::string(UnderWayText)
                                               : "");
}

}  // namespace cli
