// The update run: its lines, buttons, yields, the selection it programs, and what it keeps out.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "FormFixture.h"
#include "app/Rescan.h"
#include "app/StatusLines.h"

namespace {

using platform::ControlId;
using Lines = std::vector<std::string>;

using UpdateFixture = FormFixture;

TEST_F(UpdateFixture, ProgramsTheSelectedDeviceAndReportsSuccess) {
  Start();
  Lines linesDuringFirstYield;
  pump.pending.push_back([&] { linesDuringFirstYield = UpdateLines(); });
  bool flagDuringProgramming = false;
  bool keptAwake = false;
  Library().duringProgramming = [&] {
    flagDuringProgramming = form->State().UpdateInProgress;
    keptAwake = sleepAndShutdown.active;
    EXPECT_FALSE(Enabled(ControlId::ExitBtn));
    EXPECT_FALSE(Enabled(ControlId::UpdateBtn));
    EXPECT_TRUE(Visible(ControlId::UpdateStatusPanel));
    EXPECT_FALSE(Visible(ControlId::RescanStatusPanel));
  };
  Calls().clear();
  form->UpdateBtnClick();

  EXPECT_EQ(linesDuringFirstYield,
            (Lines{"DO NOT disconnect the device during the F/W update.", "Updating.....", ""}));
  EXPECT_EQ(Calls(),
            (std::vector<std::string>{
                "ZR_InitialCustomizedSettingTable",
                "ZR_FWUpdateProgrammingNoCustomizedSetting(\\\\?\\usb#vid_0001&pid_0002#0001)"}));
  EXPECT_TRUE(flagDuringProgramming);
  EXPECT_TRUE(keptAwake);
  EXPECT_EQ(sleepAndShutdown.log,
            (std::vector<std::string>{"block Firmware update in progress", "unblock"}));
  EXPECT_EQ(UpdateLines(),
            (Lines{"Successfully updated", "Please power off/on your USB device.", ""}));
  EXPECT_TRUE(Visible(ControlId::ExitBtn));
  EXPECT_TRUE(Enabled(ControlId::ExitBtn));
  EXPECT_FALSE(Visible(ControlId::UpdateBtn));
  EXPECT_FALSE(Enabled(ControlId::UpdateBtn));
  EXPECT_EQ(pump.yields, 2);
  EXPECT_FALSE(form->State().UpdateInProgress);
  // The selection stays until the next scan.
  EXPECT_EQ(form->State().SelectedDeviceCount, 1);
}

TEST_F(UpdateFixture, AFailedProgrammingCallShowsUpdateFail) {
  Start();
  Library().Device().programSucceeds = false;
  form->UpdateBtnClick();
  EXPECT_EQ(UpdateLines(), (Lines{"", "Update Fail!", ""}));
  EXPECT_TRUE(Enabled(ControlId::ExitBtn));
  EXPECT_FALSE(sleepAndShutdown.active);
  ASSERT_EQ(log.sharedLines.size(), 1u);
  EXPECT_NE(log.sharedLines[0].find(R"("result":"failed","exitCode":null)"), std::string::npos)
      << log.sharedLines[0];
  ASSERT_EQ(events.reported.size(), 1u);
  EXPECT_EQ(events.reported[0].first, platform::Event::Failed);
  EXPECT_TRUE(log.debugOutput.empty());
}

// The window has no console: a shared log it cannot write is told to the debug output.
TEST_F(UpdateFixture, ASharedLogThatCannotBeWrittenIsToldToTheDebugOutput) {
  Start();
  log.sharedLogError = "C:\\ProgramData\\Flashwright is owned by BENCH-7\\mallory";
  form->UpdateBtnClick();
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
  EXPECT_EQ(log.debugOutput,
            (std::vector<std::string>{"Flashwright: the shared log is not written: " +
                                      log.sharedLogError}));
}

// Two programs writing one device's flash would corrupt it: with the machine-wide lock held by
// another program (taken between the scan and the click) the library is not called, the window
// says the device is busy, not that the update failed, and looks again by itself; the lock is
// always let go after a run.
TEST_F(UpdateFixture, ProgramsOnlyUnderTheMachineWideLock) {
  Start();
  programmingLock.heldElsewhere = true;
  attempts.records.push_back({"other-device",
                              "OTHER",
                              "00.01.01.05",
                              "flashwright-cli update",
                              {4242, 7},
                              1,
                              "",
                              0,
                              false,
                              ""});
  attempts.running.push_back({4242, 7});
  Calls().clear();
  form->UpdateBtnClick();
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(ScanLines(), Lines(app::BusyLines.begin(), app::BusyLines.end()));
  EXPECT_TRUE(Visible(ControlId::RescanStatusPanel));
  EXPECT_FALSE(Visible(ControlId::UpdateStatusPanel));
  EXPECT_FALSE(OffersUpdate());
  EXPECT_EQ(SelectedPath(), "");
  EXPECT_TRUE(timers.Running(app::BusyTimerId));
  // The attempt that did not start is on record, as the one after it.
  ASSERT_EQ(log.sharedLines.size(), 1u);
  EXPECT_NE(log.sharedLines[0].find(R"("command":"update",)"), std::string::npos);
  EXPECT_NE(log.sharedLines[0].find(R"("path":null,)"), std::string::npos);
  EXPECT_NE(log.sharedLines[0].find(R"("state":"busy","check":null,"result":null)"),
            std::string::npos)
      << log.sharedLines[0];

  programmingLock.heldElsewhere = false;
  attempts.records.clear();
  bool heldWhileProgramming = false;
  Library().duringProgramming = [&] { heldWhileProgramming = programmingLock.held; };
  Rescan();
  EXPECT_FALSE(timers.Running(app::BusyTimerId)) << "the busy timer outlives the busy lock";
  // The line is written once the result and Exit are shown and the lock is let go: no one who
  // holds the log can keep the window on "Updating....." or another program from the lock.
  std::vector<std::string> writtenAfter;
  log.onAppend = [&] {
    writtenAfter.push_back(UpdateLines()[0] + (Visible(ControlId::ExitBtn) ? " + Exit" : "") +
                           (programmingLock.held ? " + lock" : ""));
  };
  form->UpdateBtnClick();
  EXPECT_EQ(writtenAfter, (std::vector<std::string>{"Successfully updated + Exit"}));
  log.onAppend = nullptr;
  EXPECT_TRUE(heldWhileProgramming);
  EXPECT_FALSE(programmingLock.held);
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
  ASSERT_EQ(log.sharedLines.size(), 2u);
  EXPECT_NE(log.sharedLines[1].find(R"("program":"Flashwright")"), std::string::npos);
  EXPECT_NE(log.sharedLines[1].find(R"("versionAfter":"00.01.01.07","state":"update-required",)"
                                    R"("check":"firmware-version","result":"updated")"),
            std::string::npos)
      << log.sharedLines[1];
  std::vector<platform::Event> reported;
  for (const auto& [event, text] : events.reported) reported.push_back(event);
  EXPECT_EQ(reported,
            (std::vector<platform::Event>{platform::Event::Busy, platform::Event::Updated}));
}

// The busy lines are for another program that programs. Another program's short look at the
// devices is waited out; one that holds the lock longer without programming (a station between
// units) reads as in use; a record of an attempt under way in another live program means busy
// even with the lock free.
TEST_F(UpdateFixture, BusyLinesAreForAnotherProgramThatPrograms) {
  Start();
  const platform::AttemptRecord underWay{
      "other-device", "OTHER", "00.01.01.05", "flashwright-cli update", {4242, 7}, 1, "", 0,
      false,          ""};
  const struct {
    const char* name;
    int busyTakes;
    bool heldElsewhere;
    bool recordUnderWay;
    std::optional<app::Lines> lines;  // none: the scan ran
  } cases[] = {
      {"a short look, waited out", 1, false, false, std::nullopt},
      {"held on without programming", 0, true, false, app::InUseLines},
      {"programming", 0, true, true, app::BusyLines},
      {"a record under way, lock free", 0, false, true, app::BusyLines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    programmingLock.busyTakes = c.busyTakes;
    programmingLock.heldElsewhere = c.heldElsewhere;
    attempts.records.clear();
    attempts.running.clear();
    if (c.recordUnderWay) {
      attempts.records.push_back(underWay);
      attempts.running.push_back({4242, 7});
    }
    Calls().clear();
    Rescan();
    if (c.lines) {
      EXPECT_EQ(ScanLines(), Lines(c.lines->begin(), c.lines->end()));
      EXPECT_TRUE(Calls().empty());
    } else {
      EXPECT_EQ(ScanLines()[2], "Firmware: Update required!");
    }
    EXPECT_FALSE(programmingLock.held);
  }
}

TEST_F(UpdateFixture, WithoutASelectionTheLibraryIsNotCalled) {
  Library().SetVersion("00.01.01.07");  // up to date: nothing selected
  Start();
  Calls().clear();
  form->UpdateBtnClick();
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(sleepAndShutdown.log.empty());
  EXPECT_EQ(UpdateLines(), (Lines{"", "Update Fail!", ""}));
  EXPECT_FALSE(form->State().UpdateInProgress);
}

TEST_F(UpdateFixture, APendingRescanIsCancelledSoNoScanRunsInsideTheUpdate) {
  Start();
  form->OnDeviceChange(app::DeviceNodesChanged);
  ASSERT_TRUE(timers.Running(app::RescanTimerId));
  // Time passes inside the first yield, long enough for the rescan to fall due.
  pump.pending.push_back([&] { timers.Advance(500); });
  Calls().clear();
  form->UpdateBtnClick();
  EXPECT_TRUE(timers.fired.empty());
  EXPECT_EQ(Calls().size(), 2u);  // preparation and programming, no scan
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
  EXPECT_TRUE(Visible(ControlId::UpdateStatusPanel));
  EXPECT_FALSE(Visible(ControlId::RescanStatusPanel));
}

TEST_F(UpdateFixture, DeviceChangesDuringTheRunStartNoScanAndLeaveTheLinesAlone) {
  Start();
  Library().duringProgramming = [&] {
    // Delivered in the second yield, as the programming call itself does not pump.
    pump.pending.push_back([&] {
      form->OnDeviceChange(app::DeviceRemoveComplete);
      form->OnDeviceChange(app::DeviceNodesChanged);
    });
  };
  form->UpdateBtnClick();
  timers.Advance(1000);
  EXPECT_TRUE(timers.fired.empty());
  EXPECT_TRUE(closer.closed.empty());
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
}

TEST_F(UpdateFixture, ClosingDuringAYieldLetsTheRunFinish) {
  Start();
  pump.pending.push_back([&] { form->ExitBtnClick(); });
  form->UpdateBtnClick();
  EXPECT_EQ(controls.closeRequests, 1);
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
  EXPECT_FALSE(form->State().UpdateInProgress);
}

TEST_F(UpdateFixture, AClickOrAStrayTimerDuringTheRunNeitherProgramsAgainNorScans) {
  Start();
  pump.pending.push_back([&] {
    form->UpdateBtnClick();
    form->OnRescanTimer(app::RescanTimerId);
  });
  Library().duringProgramming = [&] { pump.pending.push_back([&] { form->UpdateBtnClick(); }); };
  Calls().clear();
  form->UpdateBtnClick();
  EXPECT_EQ(Calls().size(), 2u);  // one preparation, one programming call, no device list
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
  EXPECT_FALSE(form->State().UpdateInProgress);
}

TEST_F(UpdateFixture, AFailureInsideTheRunReleasesTheFlagAndTheKeepAwakeRequest) {
  Start();
  Library().duringProgramming = [] { throw std::runtime_error("library fault"); };
  EXPECT_THROW(form->UpdateBtnClick(), std::runtime_error);
  EXPECT_FALSE(form->State().UpdateInProgress);
  EXPECT_FALSE(sleepAndShutdown.active);
  // Device changes are noticed again.
  form->OnDeviceChange(app::DeviceNodesChanged);
  EXPECT_TRUE(timers.Running(app::RescanTimerId));
}

TEST_F(UpdateFixture, TheNextScanAfterAPowerCycleShowsTheScanLinesAgain) {
  Start();
  form->UpdateBtnClick();
  Library().SetVersion("00.01.01.07");
  form->OnDeviceChange(app::DeviceRemoveComplete);
  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.Advance(200);
  EXPECT_EQ(ScanLines()[2], "Firmware: Up to date");
  EXPECT_TRUE(Visible(ControlId::RescanStatusPanel));
  EXPECT_FALSE(Visible(ControlId::UpdateStatusPanel));
  EXPECT_FALSE(OffersUpdate());
}

}  // namespace

// The window records its attempt as the command line does: the intent before the programming
// call, the outcome after it; a scan that finds the device at the target ends the record.
TEST_F(UpdateFixture, TheAttemptIsRecordedAndEndsWhenTheDeviceReportsTheTarget) {
  Start();
  std::optional<platform::AttemptRecord> during;
  Library().duringProgramming = [&] {
    if (!attempts.records.empty()) during = attempts.records.front();
  };
  form->UpdateBtnClick();
  ASSERT_TRUE(during.has_value()) << "no record while programming";
  EXPECT_EQ(during->outcome, "");
  EXPECT_EQ(during->program, "Flashwright");
  EXPECT_EQ(during->identity, "VENDOR  Bridge Product");
  EXPECT_EQ(during->versionBefore, "00.01.01.05");
  ASSERT_EQ(attempts.records.size(), 1u);
  EXPECT_EQ(attempts.records.front().outcome, "updated");

  Rescan();
  EXPECT_EQ(attempts.records.size(), 1u) << "ended while the device reports the old version";
  Library().SetVersion("00.01.01.07");
  Rescan();
  EXPECT_TRUE(attempts.records.empty());

  Library().SetVersion("00.01.01.05");
  Rescan();
  // The window programs even when the intent cannot be recorded, and tells of it after the
  // result; so it does when the record cannot be completed, which is not kept quiet either.
  attempts.saveError = "access denied";
  Calls().clear();
  AsTheWindow([&] { form->UpdateBtnClick(); });
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
  EXPECT_EQ(Calls().back(),
            "ZR_FWUpdateProgrammingNoCustomizedSetting(\\\\?\\usb#vid_0001&pid_0002#0001)");
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_NE(dialogs.errors[0].find("access denied"), std::string::npos) << dialogs.errors[0];
  dialogs.errors.clear();
  attempts.saveError.clear();

  Library().duringProgramming = [&] { attempts.saveError = "the registry is full"; };
  AsTheWindow([&] { form->UpdateBtnClick(); });
  EXPECT_EQ(UpdateLines()[0], "Successfully updated");
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_NE(dialogs.errors[0].find("the registry is full"), std::string::npos) << dialogs.errors[0];
  EXPECT_FALSE(programmingLock.held);
}
