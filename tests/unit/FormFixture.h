// A TForm1 wired to fakes of every platform service and to the simulated update library.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "FakeTrail.h"
#include "app/TForm1.h"
#include "platform/ErrorBox.h"

struct FormFixture : ::testing::Test, fakes::FakeSystem {
  fakes::FakeControls controls;
  fakes::FakeDialogs dialogs;
  fakes::FakeNotifications notifications;
  fakes::FakeTimers timers;
  fakes::FakeWindowCloser closer;
  fakes::FakePump pump;
  fakes::FakeLogFile log;
  fakes::FakeEventLog events;
  std::optional<app::TForm1> form;

  fakes::SimulatedLibrary& Library() { return fakes::SimulatedLibrary::Instance(); }
  std::vector<std::string>& Calls() { return Library().calls; }

  platform::FormServices Services() {
    return {.modules = modules,
            .faults = faults,
            .controls = controls,
            .dialogs = dialogs,
            .versionRecord = versionRecord,
            .notifications = notifications,
            .timers = timers,
            .windowCloser = closer,
            .pump = pump,
            .sleepAndShutdown = sleepAndShutdown,
            .programmingLock = programmingLock,
            .attempts = attempts,
            .log = log,
            .events = events};
  }
  void SetUp() override { Library().Reset(); }
  void TearDown() override { form.reset(); }

  // Constructs the form (binding, configuration, first scan) and runs its creation handler; timer
  // messages then reach it as they would through the window.
  void Start() {
    form.emplace(Services());
    form->FormCreate();
    timers.onFire = [this](std::uintptr_t id) { AsTheWindow([&] { form->OnRescanTimer(id); }); };
  }
  // Calls a handler as the window does: an exception escaping it goes to the error box.
  template <class Handler>
  void AsTheWindow(Handler&& handler) {
    platform::RunGuarded(dialogs, std::forward<Handler>(handler));
  }
  void Rescan() {
    Calls().clear();
    form->RefreshBtnClick();
  }

  const std::string& Text(platform::ControlId id) { return controls.controls[id].text; }
  bool Visible(platform::ControlId id) { return controls.controls[id].visible; }
  bool Enabled(platform::ControlId id) { return controls.controls[id].enabled; }
  std::vector<std::string> ScanLines() {
    using platform::ControlId;
    return {Text(ControlId::RescanStatus1Panel), Text(ControlId::RescanStatus2Panel),
            Text(ControlId::RescanStatus3Panel)};
  }
  std::vector<std::string> UpdateLines() {
    using platform::ControlId;
    return {Text(ControlId::UpdateStatus1Panel), Text(ControlId::UpdateStatus2Panel),
            Text(ControlId::UpdateStatus3Panel)};
  }
  // Update offered (visible and enabled) and Exit hidden, or the other way round.
  bool OffersUpdate() {
    using platform::ControlId;
    const bool update = Visible(ControlId::UpdateBtn) && Enabled(ControlId::UpdateBtn);
    const bool exit = Visible(ControlId::ExitBtn) && Enabled(ControlId::ExitBtn);
    EXPECT_NE(update, exit) << "exactly one of Update and Exit is offered";
    return update;
  }
  std::string SelectedPath() { return form->State().SelectedDevicePath.data(); }
};
