// The main window's lifecycle: construction, creation handler, exit and teardown.
#include <gtest/gtest.h>

#include <optional>

#include "FormFixture.h"

namespace {

TEST_F(FormFixture, ABoundLibraryIsConfiguredBeforeTheFirstScan) {
  form.emplace(Services());
  EXPECT_TRUE(form->ShouldRun());
  EXPECT_EQ(dialogs.bindingFailures, 0);
  const auto& calls = fakes::SimulatedLibrary::Instance().calls;
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[0], "ZR_SetKV7300BindingCheck(1)");
  EXPECT_EQ(calls[3], "ZR_SetKV7300FWModuleForEndUserFWResource(3)");
  EXPECT_EQ(calls[4], "ZR_GetDeviceList");
  EXPECT_FALSE(form->State().UpdateInProgress);
  // The window opens already showing the first scan's outcome.
  EXPECT_EQ(controls.controls[platform::ControlId::RescanStatus3Panel].text,
            "Firmware: Update required!");
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
  EXPECT_TRUE(fakes::SimulatedLibrary::Instance().calls.empty());
  EXPECT_TRUE(modules.released.empty());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(FormFixture, AnIncompleteLibraryIsRefusedLikeAMissingOne) {
  modules.missing = {"ZR_SetZRKeepLast4KFileCopyNVRamchk"};
  app::TForm1 form(Services());
  EXPECT_FALSE(form.ShouldRun());
  EXPECT_EQ(dialogs.bindingFailures, 1);
  EXPECT_EQ(modules.released.size(), 1u);
  EXPECT_TRUE(fakes::SimulatedLibrary::Instance().calls.empty());
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
