// The main window's lifecycle: construction, creation handler, exit and teardown.
#include <gtest/gtest.h>

#include <optional>

#include "Fakes.h"
#include "app/TForm1.h"

namespace {

struct FormFixture : ::testing::Test {
  fakes::FakeModuleLoader modules;
  fakes::FakeControls controls;
  fakes::FakeDialogs dialogs;
  fakes::FakeVersionRecord versionRecord;
  fakes::FakeNotifications notifications;
  app::FormServices Services() {
    return {modules, controls, dialogs, versionRecord, notifications};
  }
  void SetUp() override { fakes::FakeLibrary::Instance().Reset(); }
};

TEST_F(FormFixture, ABoundLibraryIsConfiguredBeforeTheFirstScan) {
  std::optional<app::TForm1> form(std::in_place, Services());
  EXPECT_TRUE(form->ShouldRun());
  EXPECT_EQ(dialogs.bindingFailures, 0);
  const auto& calls = fakes::FakeLibrary::Instance().calls;
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(calls[0], "ZR_SetKV7300BindingCheck(1)");
  EXPECT_EQ(calls[3], "ZR_SetKV7300FWModuleForEndUserFWResource(3)");
  EXPECT_FALSE(form->State().UpdateInProgress);
  EXPECT_EQ(form->State().SelectedDeviceCount, 0);
}

TEST_F(FormFixture, CreationRegistersForDeviceChangesAndSetsTheVersionCaption) {
  app::TForm1 form(Services());
  EXPECT_EQ(controls.caption, "Form1");
  form.FormCreate();
  EXPECT_EQ(notifications.registrations, 1);
  EXPECT_EQ(controls.caption, "KV7700 Flashwright v0.1.1.7");
}

TEST_F(FormFixture, AnUnreadableVersionRecordLeavesTheTitleAsCaption) {
  versionRecord.version.reset();
  app::TForm1 form(Services());
  form.FormCreate();
  EXPECT_EQ(controls.caption, "KV7700 Flashwright");
}

TEST_F(FormFixture, WithoutTheLibraryOneBoxIsShownAndTheWindowNeverRuns) {
  modules.loadResult = 0;
  {
    app::TForm1 form(Services());
    form.FormCreate();
    EXPECT_FALSE(form.ShouldRun());
    EXPECT_EQ(dialogs.bindingFailures, 1);
    EXPECT_EQ(notifications.registrations, 0);
    EXPECT_EQ(controls.caption, "Form1");
    form.RefreshBtnClick();  // a stray rescan must not touch the unbound library
  }
  EXPECT_TRUE(fakes::FakeLibrary::Instance().calls.empty());
  EXPECT_TRUE(modules.released.empty());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(FormFixture, AnIncompleteLibraryIsRefusedLikeAMissingOne) {
  modules.missing = {"ZR_SetZRKeepLast4KFileCopyNVRamchk"};
  app::TForm1 form(Services());
  EXPECT_FALSE(form.ShouldRun());
  EXPECT_EQ(dialogs.bindingFailures, 1);
  EXPECT_EQ(modules.released.size(), 1u);
  EXPECT_TRUE(fakes::FakeLibrary::Instance().calls.empty());
}

TEST_F(FormFixture, ExitClosesTheWindowAndTeardownReleasesLibraryAndRegistration) {
  {
    app::TForm1 form(Services());
    form.FormCreate();
    form.ExitBtnClick();
    EXPECT_EQ(controls.closeRequests, 1);
    EXPECT_TRUE(modules.released.empty());
  }
  EXPECT_EQ(modules.released, std::vector<platform::ModuleHandle>{modules.loadResult});
  EXPECT_EQ(notifications.unregistered, std::vector<std::uintptr_t>{notifications.handle});
}

}  // namespace
