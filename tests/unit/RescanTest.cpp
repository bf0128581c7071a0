// The rescan after device changes: the debounced timer and the "Message" window rule.
#include <gtest/gtest.h>

#include <algorithm>

#include "FormFixture.h"
#include "app/Rescan.h"

namespace {

using RescanFixture = FormFixture;

int ScansIn(const std::vector<std::string>& calls) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), "ZR_GetDeviceList"));
}

TEST_F(RescanFixture, ABurstOfChangesGivesOneScan200msAfterTheLast) {
  Start();
  Calls().clear();
  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.Advance(50);
  form->OnDeviceChange(app::DeviceRemoveComplete);
  timers.Advance(50);
  form->OnDeviceChange(app::DeviceNodesChanged);
  const long lastEvent = timers.now;
  timers.Advance(199);
  EXPECT_EQ(ScansIn(Calls()), 0);
  timers.Advance(1);
  EXPECT_EQ(ScansIn(Calls()), 1);
  ASSERT_EQ(timers.fired.size(), 1u);
  EXPECT_EQ(timers.fired[0].first, lastEvent + 200);
  // The timer acts once.
  timers.Advance(5000);
  EXPECT_EQ(ScansIn(Calls()), 1);
  EXPECT_FALSE(timers.Running(app::RescanTimerId));
}

TEST_F(RescanFixture, AnArrivalAloneNeitherStartsNorRestartsTheTimer) {
  Start();
  form->OnDeviceChange(app::DeviceArrival);
  EXPECT_TRUE(timers.log.empty());
  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.Advance(150);
  form->OnDeviceChange(app::DeviceArrival);
  timers.Advance(50);
  EXPECT_EQ(timers.fired.size(), 1u);  // 200 ms after the node change, not after the arrival
  form->OnDeviceChange(0x8001);        // query-remove and other codes are ignored too
  EXPECT_FALSE(timers.Running(app::RescanTimerId));
}

TEST_F(RescanFixture, AcceptedChangesCloseAWindowTitledMessage) {
  Start();
  form->OnDeviceChange(app::DeviceArrival);
  EXPECT_TRUE(closer.closed.empty());
  form->OnDeviceChange(app::DeviceRemoveComplete);
  form->OnDeviceChange(app::DeviceNodesChanged);
  EXPECT_EQ(closer.closed, (std::vector<std::string>{"Message", "Message"}));
}

TEST_F(RescanFixture, DuringAnUpdateEveryEventOnlyCancelsAPendingRescan) {
  Start();
  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.log.clear();
  closer.closed.clear();
  Library().duringProgramming = [&] {
    form->OnDeviceChange(app::DeviceArrival);
    form->OnDeviceChange(app::DeviceNodesChanged);
  };
  form->UpdateBtnClick();
  EXPECT_EQ(timers.log, (std::vector<std::string>{"cancel 101", "cancel 101", "cancel 101"}));
  EXPECT_TRUE(closer.closed.empty());
}

TEST_F(RescanFixture, OtherTimersAreIgnored) {
  Start();
  Calls().clear();
  form->OnRescanTimer(7);
  EXPECT_TRUE(Calls().empty());
  form->OnRescanTimer(app::RescanTimerId);
  EXPECT_EQ(ScansIn(Calls()), 1);
}

TEST_F(RescanFixture, NoScanRunsWhileTheLibraryIsNotBound) {
  modules.loadResult = 0;
  Start();
  form->OnDeviceChange(app::DeviceNodesChanged);
  timers.Advance(1000);
  form->UpdateBtnClick();
  EXPECT_TRUE(Calls().empty());
}

}  // namespace
