// The main window's behaviour; see TForm1.h.
#include "app/TForm1.h"

#include "app/AppText.h"
#include "app/ScanAndShow.h"
#include "app/StatusLines.h"
#include "platform/ErrorBox.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace app {

using platform::ControlId;

namespace {
// How long a scan or an update waits for the programming lock before it looks at what the other
// program does, and how much longer it waits out another program's short look at the devices (a
// scan, status, detect) before it says the devices are in use. The window does not paint
// meanwhile.
constexpr std::chrono::milliseconds LockWait{500};
constexpr std::chrono::milliseconds ShortLookWait{2500};

std::string Text(platform::LogFile& log, const char* bytes, std::size_t size) {
  return log.FromAnsi(std::string_view(bytes, strnlen(bytes, size)));
}
}  // namespace

TForm1::EventsAttachment::EventsAttachment(platform::Controls& controls, platform::FormEvents& form)
    : controls(controls) {
  controls.SetEvents(&form);
}

TForm1::EventsAttachment::~EventsAttachment() { controls.SetEvents(nullptr); }

TForm1::TForm1(const platform::FormServices& services)
    : services_(services),
      attachment_(services.controls, *this),
      DeviceNotifyHandle(0, Unregister{&services.notifications}),
      library_(services.faults),
      rescan_(services.timers),
      attempts_(services.attempts, update::Program::Window),
      trail_(services.log, services.events) {
  library_.Load(services_.modules);
  if (!library_.Bound()) {
    services_.dialogs.ShowPlain(BindingFailureText, BindingFailureCaption);
    return;
  }
  updatelib::ConfigureUpdateLibrary(library_);
  state_ = SharedState{};
  RefreshBtnClick();
}

void TForm1::FormCreate() {
  if (!ShouldRun()) return;
  DeviceNotifyHandle.Reset(services_.notifications.Register());
  services_.controls.SetCaption(FormatCaption(services_.versionRecord.ReadOwnFileVersion()));
  created_ = true;
  // A change during the first scan leads to a rescan once the window runs.
  ActOnRemembered();
}

void TForm1::RefreshBtnClick() {
  if (!library_.Bound()) return;
  if (library_.Busy()) {
    rescanRemembered_ = true;
    return;
  }
  std::optional<platform::HeldLock> lock;
  if (const Busy busy = TakeLock(lock); busy != Busy::No) {
    ShowBusy(busy);
    return;
  }
  if (busyTimer_) services_.timers.CancelTimer(BusyTimerId);
  busyTimer_ = false;
  const device::ScanReport report = ScanAndShow(library_, state_, services_.controls);
  selectedFirmware_ = report.firmware;
  // The unit a record names found at the target ends its record, and a list without any device
  // marks the records' units as gone (unplugged), as for the command line: what the unit reports
  // when it is back tells whether its update took.
  auto text = [](const auto& bytes) {
    return std::string(bytes.data(), strnlen(bytes.data(), bytes.size()));
  };
  if (report.outcome == device::ScanOutcome::UpToDate && report.count == 1) {
    attempts_.Review({{report.path, true, text(report.identity), text(report.firmware)}}, true);
  } else if (report.outcome == device::ScanOutcome::NoDevice && report.count == 0) {
    attempts_.Review({}, true);
  }
}

TForm1::Busy TForm1::TakeLock(std::optional<platform::HeldLock>& lock) {
  using Take = platform::ProgrammingLock::Take;
  lock.emplace(services_.programmingLock, LockWait);
  if (lock->Result() == Take::Busy && !attempts_.UnderWayElsewhere()) {
    lock.emplace(services_.programmingLock, ShortLookWait);
  }
  if (lock->Result() == Take::Failed) return Busy::NoLock;
  // A record of an attempt under way in another program that still runs is believed over a lock
  // found free: the device is being programmed.
  const bool programming = attempts_.UnderWayElsewhere();
  if (lock->Held() && !programming) return Busy::No;
  lock.reset();
  return programming ? Busy::Programming : Busy::Looking;
}

void TForm1::ShowBusy(Busy busy) {
  platform::Controls& controls = services_.controls;
  state_.SelectedDeviceCount = 0;
  state_.SelectedDevicePath.fill('\0');
  controls.SetVisible(ControlId::UpdateStatusPanel, false);
  ShowStatus(controls, StatusArea::Rescan,
             {busy == Busy::Programming ? BusyLines
              : busy == Busy::Looking   ? InUseLines
                                        : LockUnavailableLines});
  services_.timers.StartTimer(BusyTimerId, BusyRetryDelay);
  busyTimer_ = true;
}

void TForm1::UpdateBtnClick() {
  // Never programs twice at once, and never from inside another library call, whoever clicks.
  if (!library_.Bound() || library_.Busy() || state_.UpdateInProgress) return;

  // The attempt's line, and what ended the run early: both are dealt with once the lock is let
  // go, so that nothing another user can hold (a log) holds up the programming lock.
  trail::Line line;
  std::exception_ptr failure;
  std::string recordError;
  bool updated = false;
  {
    std::optional<platform::HeldLock> lock;
    if (const Busy busy = TakeLock(lock); busy != Busy::No) {
      // Nothing touches the device while another program holds the lock; the scan lines say so.
      line = AttemptLine(busy == Busy::NoLock ? trail::State::Error : trail::State::Busy, {}, 0,
                         busy == Busy::Programming ? "another Flashwright program was programming "
                                                     "a device"
                         : busy == Busy::Looking
                             ? "another Flashwright program was checking the devices"
                             : "the programming lock could not be taken");
      ShowBusy(busy);
    } else {
      RunUpdate(line, failure, recordError);
      updated = line.result == trail::Result::Updated;
    }
  }
  WriteTrail(line);
  if (failure) std::rethrow_exception(failure);
  // Told in the error box once the run is over and the lock is let go: a record left open makes
  // the device read as interrupted, and the command line would program it again.
  if (!recordError.empty()) {
    throw std::runtime_error((updated ? "The device was programmed, but the record of the attempt "
                                        "could not be kept: "
                                      : "The record of the attempt could not be kept: ") +
                             recordError);
  }
}

void TForm1::RunUpdate(trail::Line& line, std::exception_ptr& failure, std::string& recordError) {
  platform::Controls& controls = services_.controls;
  // Whatever happens below, the flag does not outlive the run.
  state_.UpdateInProgress = true;
  const platform::ScopeExit clearFlag([&] { state_.UpdateInProgress = false; });
  // A rescan pending from before the click would otherwise fire inside the yields below and
  // scan in the middle of the update, clearing the selection and hiding the update lines.
  rescan_.Cancel();

  controls.SetVisible(ControlId::UpdateStatusPanel, true);
  controls.SetVisible(ControlId::RescanStatusPanel, false);
  controls.SetEnabled(ControlId::UpdateBtn, false);
  controls.SetEnabled(ControlId::ExitBtn, false);
  WriteLines(controls, StatusArea::Update, UpdatingLines);
  services_.pump.ProcessPendingMessages();

  // The device's facts as programmed, before a rescan in the second yield can change the
  // selection.
  line = AttemptLine(trail::State::UpdateRequired, {}, 0, {});
  const auto started = std::chrono::steady_clock::now();
  auto finish = [&](bool updated, const std::string& reason) {
    line.result = updated ? trail::Result::Updated : trail::Result::Failed;
    line.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
    if (updated) line.versionAfter = std::string(device::TargetFirmwareVersion);
    line.reason = reason;
    if (!recordError.empty()) {
      line.reason += (reason.empty() ? "" : "; ") +
                     std::string("the record of the attempt could not be kept: ") + recordError;
    }
  };
  update::UpdateOutcome outcome = update::UpdateOutcome::Failed;
  try {
    outcome = ProgramSelectedDevice(recordError);
  } catch (const std::exception& thrown) {
    finish(false, thrown.what());
    failure = std::current_exception();
  } catch (...) {
    finish(false, "an exception of an unknown kind");
    failure = std::current_exception();
  }
  if (failure) {
    ShowStatus(controls, StatusArea::Update, UpdateView(update::UpdateOutcome::Failed));
    return;
  }
  const bool updated = outcome == update::UpdateOutcome::Updated;
  finish(updated, updated ? std::string() : "programming failed");
  ShowStatus(controls, StatusArea::Update, UpdateView(outcome));
  services_.pump.ProcessPendingMessages();
}

update::UpdateOutcome TForm1::ProgramSelectedDevice(std::string& recordError) {
  if (state_.SelectedDeviceCount == 0 || state_.SelectedDevicePath[0] == '\0') {
    return update::UpdateOutcome::Failed;
  }
  // The selection is always terminated: the scan only records terminated paths.
  const device::DeviceIdentity& identity = state_.DeviceInfoText;
  // The window programs even when the intent cannot be recorded: it is told after the result.
  return update::ProgramDevice(
      library_, state_.SelectedDevicePath, services_.sleepAndShutdown, attempts_,
      {std::string_view(identity.data(), strnlen(identity.data(), identity.size())),
       std::string_view(selectedFirmware_.data(),
                        strnlen(selectedFirmware_.data(), selectedFirmware_.size()))},
      recordError, update::Intent::BestEffort);
}

trail::Line TForm1::AttemptLine(trail::State state, std::optional<trail::Result> result,
                                long long durationMs, std::string reason) {
  trail::Line line = trail::RunLine(trail::Program::Window, trail::Command::Update,
                                    services_.versionRecord, services_.log);
  if (state != trail::State::Busy && state != trail::State::Error) {
    line.path =
        Text(services_.log, state_.SelectedDevicePath.data(), state_.SelectedDevicePath.size());
    line.identity = Text(services_.log, state_.DeviceInfoText.data(), state_.DeviceInfoText.size());
    line.versionBefore = Text(services_.log, selectedFirmware_.data(), selectedFirmware_.size());
  }
  line.state = state;
  line.result = result;
  line.durationMs = durationMs;
  line.reason = std::move(reason);
  return line;
}

void TForm1::WriteTrail(const trail::Line& line) {
  // The window has no one to tell of a log it cannot write but a debugger watching it: the event
  // log still has the outcome.
  trail_.Write(line, static_cast<std::int64_t>(std::time(nullptr)));
  if (!trail_.SharedLogTrouble().empty()) {
    services_.log.DebugOutput("Flashwright: the shared log is not written: " +
                              trail_.SharedLogTrouble());
  }
}

void TForm1::ExitBtnClick() { services_.controls.Close(); }

void TForm1::OnDeviceChange(std::uint32_t event) {
  // The library may show its note inside the programming call too; it is left to the user then,
  // as during an update every event only cancels a pending rescan.
  if (state_.UpdateInProgress) {
    rescan_.Cancel();
    return;
  }
  if (!StartsRescan(event)) return;
  changeRemembered_ = true;
  ActOnRemembered();
}

void TForm1::OnRescanTimer(std::uintptr_t timerId) {
  if (timerId == BusyTimerId) {
    // Not yet, or not now: it looks again at the next tick.
    if (state_.UpdateInProgress || !created_) return;
    services_.timers.CancelTimer(BusyTimerId);
    busyTimer_ = false;
    rescanRemembered_ = true;
    ActOnRemembered();
    return;
  }
  if (!RescanDebounce::Owns(timerId)) return;
  rescan_.Cancel();
  // An update cancels the rescan timer; a stray timer message still must not scan inside it.
  // Before the window runs no scan is due: the first one has just been made.
  if (state_.UpdateInProgress || !created_) return;
  rescanRemembered_ = true;
  ActOnRemembered();
}

void TForm1::ActOnRemembered() {
  // A loop rather than recursion: what arrives while one is acted on is taken on the next turn.
  // A change is taken at once, also inside a library call (it calls no library): the library may
  // be waiting inside that call for its "Message" note to close. Only the scan waits for the
  // call to return.
  if (created_ && countdownRemembered_) {
    countdownRemembered_ = false;
    rescan_.Restart();
  }
  for (;;) {
    const bool takeChange = changeRemembered_ && !handlingChange_ && (created_ || library_.Busy());
    const bool scan = rescanRemembered_ && created_ && !library_.Busy() && !handlingChange_;
    if (!takeChange && !scan) return;
    // A library fault is shown here, so that what was remembered during the faulting call is
    // still acted on once the box is dismissed. Messages handled behind the box may act on it
    // first; the flags make sure each remembered event is acted on once.
    platform::RunGuarded(services_.dialogs, [&] {
      if (takeChange) {
        changeRemembered_ = false;
        TakeChange();
      } else {
        rescanRemembered_ = false;
        // As the timer acts once: a rescan it started by a remembered change is not run twice.
        rescan_.Cancel();
        RefreshBtnClick();
      }
    });
  }
}

void TForm1::TakeChange() {
  // Never inside an update: during one, changes are swallowed as they arrive. Inside another
  // library call the countdown runs as usual; when it ends before the call does, the scan is
  // remembered and made once the call has returned. A change inside the first scan's calls
  // starts its countdown once the window runs.
  handlingChange_ = true;
  const platform::ScopeExit done([&] { handlingChange_ = false; });
  if (created_) {
    rescan_.Restart();
  } else {
    countdownRemembered_ = true;
  }
  services_.windowCloser.CloseWindowTitled(PromptWindowTitle);
}

}  // namespace app
