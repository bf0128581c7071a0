// A library that handles window messages inside its calls, or faults in them: what reaches the
// form meanwhile is remembered instead of nested, and a fault leaves the window usable.
#include <gtest/gtest.h>

#include <algorithm>

#include "FormFixture.h"
#include "app/Rescan.h"
#include "updatelib/Gateway.h"

namespace {

using platform::ControlId;
using Lines = std::vector<std::string>;
using ReentryFixture = FormFixture;

int ScansIn(const std::vector<std::string>& calls) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), "ZR_GetDeviceList"));
}

TEST_F(ReentryFixture, ChangeAndTimerInsideTheListCallGiveOneScanAfterIt) {
  Start();
  Calls().clear();
  Library().During("ZR_GetDeviceList", [&] {
    form->OnDeviceChange(app::DeviceNodesChanged);
    form->OnRescanTimer(app::RescanTimerId);
    form->UpdateBtnClick();  // inside a library call: starts nothing
  });
  form->OnRescanTimer(app::RescanTimerId);
  // The outer scan finished its calls before the remembered rescan made any.
  EXPECT_EQ(Calls()[1], "ZR_GetChipType(\\\\?\\usb#vid_0001&pid_0002#0001)");
  EXPECT_EQ(ScansIn(Calls()), 2);
  EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "ZR_InitialCustomizedSettingTable"), 0);
  EXPECT_EQ(closer.closed.size(), 1u);  // the change was taken, once
  timers.Advance(1000);
  EXPECT_EQ(ScansIn(Calls()), 2);  // and its timer did not scan a third time
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ReentryFixture, AChangeDuringConstructionRescansOnceTheWindowRuns) {
  Library().During("ZR_GetDeviceList", [&] {
    controls.events->OnDeviceChange(app::DeviceNodesChanged);
    controls.events->OnRescanTimer(app::RescanTimerId);
  });
  form.emplace(Services());
  EXPECT_EQ(ScansIn(Calls()), 1);
  // The note is asked to close at once: the library may be waiting inside the call for it.
  EXPECT_EQ(closer.closed.size(), 1u);
  EXPECT_FALSE(timers.Running(app::RescanTimerId));
  form->FormCreate();
  timers.onFire = [this](std::uintptr_t id) { form->OnRescanTimer(id); };
  EXPECT_TRUE(timers.Running(app::RescanTimerId));
  timers.Advance(200);
  EXPECT_EQ(ScansIn(Calls()), 2);
  EXPECT_EQ(closer.closed.size(), 1u);  // once per change
  form.reset();
  EXPECT_EQ(controls.events, nullptr);
}

TEST_F(ReentryFixture, AChangeDuringTheMessageWaitIsTakenAfterItNotInside) {
  Start();
  int storm = 20;
  closer.whileWaiting = [&] {
    while (storm > 0) {
      --storm;
      form->OnDeviceChange(app::DeviceNodesChanged);
    }
  };
  form->OnDeviceChange(app::DeviceNodesChanged);
  EXPECT_EQ(closer.deepest, 1);
  EXPECT_EQ(closer.closed.size(), 2u);  // the storm counts as one change, taken afterwards
}

TEST_F(ReentryFixture, AFaultInARescanShowsTheBoxAndNoDeviceAndScansAgainLater) {
  Start();
  ASSERT_TRUE(OffersUpdate());
  Library().FaultOnce("ZR_GetChipType");
  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.Advance(200);
  EXPECT_EQ(dialogs.errors,
            std::vector<std::string>{"The update library failed in ZR_GetChipType: access "
                                     "violation at address 10001234."});
  EXPECT_EQ(ScanLines(), (Lines{"No compatible USB device were found.",
                                "Please plug a compatible USB device.", ""}));
  EXPECT_FALSE(OffersUpdate());
  EXPECT_TRUE(Visible(ControlId::RescanStatusPanel));
  EXPECT_EQ(form->State().SelectedDeviceCount, 0);
  EXPECT_EQ(SelectedPath(), "");

  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.Advance(200);
  EXPECT_EQ(ScanLines()[2], "Firmware: Update required!");
}

// A change that arrives inside a call which then faults is acted on once the box is dismissed,
// without another change, and gives one rescan.
TEST_F(ReentryFixture, AChangeInsideAFaultingCallRescansAfterTheBox) {
  Start();
  Library().During("ZR_GetChipType", [&] { form->OnDeviceChange(app::DeviceNodesChanged); });
  Library().FaultOnce("ZR_GetChipType");
  Calls().clear();
  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.Advance(200);
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(ScanLines()[0], "No compatible USB device were found.");
  EXPECT_TRUE(timers.Running(app::RescanTimerId));
  timers.Advance(1000);
  EXPECT_EQ(ScansIn(Calls()), 2);
  EXPECT_EQ(ScanLines()[2], "Firmware: Update required!");
  EXPECT_EQ(dialogs.errors.size(), 1u);
}

TEST_F(ReentryFixture, AFaultWhileProgrammingShowsUpdateFailAndLetsChangesRescan) {
  Start();
  Library().FaultOnce("ZR_FWUpdateProgrammingNoCustomizedSetting");
  AsTheWindow([&] { form->UpdateBtnClick(); });
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(UpdateLines(), (Lines{"", "Update Fail!", ""}));
  EXPECT_FALSE(OffersUpdate());
  EXPECT_FALSE(form->State().UpdateInProgress);
  EXPECT_FALSE(sleepAndShutdown.active);
  form->OnDeviceChange(app::DeviceNodesChanged);
  EXPECT_TRUE(timers.Running(app::RescanTimerId));
}

TEST_F(ReentryFixture, AFaultInTheFirstScanEndsConstructionAndReleasesTheLibrary) {
  Library().FaultOnce("ZR_Inquiry");
  EXPECT_THROW(form.emplace(Services()), updatelib::LibraryFault);
  EXPECT_EQ(modules.released, std::vector<platform::ModuleHandle>{modules.loadResult});
  EXPECT_EQ(controls.events, nullptr);
}

// A library that reports one device with an empty path: it is offered, but programming is not
// attempted with no path to give.
TEST_F(ReentryFixture, ACountOfOneWithAnEmptyPathFailsWithoutProgramming) {
  Library().SetDevices({""});
  Start();
  ASSERT_TRUE(OffersUpdate());
  Calls().clear();
  form->UpdateBtnClick();
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(UpdateLines(), (Lines{"", "Update Fail!", ""}));
}

}  // namespace
