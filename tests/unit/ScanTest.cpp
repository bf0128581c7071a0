// The device scan: calls to the library, outcomes, status lines, buttons and the selection.
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "device/Scan.h"

namespace {

using platform::ControlId;
using Lines = std::vector<std::string>;

const std::string DevicePath = "\\\\?\\usb#vid_0001&pid_0002#0001";
const Lines NotFound = {"No compatible USB device were found.",
                        "Please plug a compatible USB device."};

Lines NotFoundWith(const std::string& line3) { return {NotFound[0], NotFound[1], line3}; }

using ScanFixture = FormFixture;

TEST_F(ScanFixture, ADeviceNeedingAnUpdateIsSelectedAndOffered) {
  Start();
  EXPECT_EQ(
      Calls(),
      (std::vector<std::string>{
          "ZR_SetKV7300BindingCheck(1)", "ZR_SetZRKeepLast4KFileCopyNVRamchk(0)",
          "ZR_SetLoadEndUserFWFromResourceFlag(1)", "ZR_SetKV7300FWModuleForEndUserFWResource(3)",
          "ZR_GetDeviceList", "ZR_GetChipType(" + DevicePath + ")",
          "ZR_GetRunningCodeMode(" + DevicePath + ")", "ZR_GetFWVersion(" + DevicePath + ")",
          "ZR_CheckLoadBinFileMatch(" + DevicePath + ",0)", "ZR_Inquiry(" + DevicePath + ",40)"}));
  EXPECT_EQ(ScanLines(), (Lines{"", "VENDOR  Bridge Product", "Firmware: Update required!"}));
  EXPECT_TRUE(OffersUpdate());
  EXPECT_TRUE(Visible(ControlId::RescanStatusPanel));
  EXPECT_FALSE(Visible(ControlId::UpdateStatusPanel));
  EXPECT_EQ(form->State().SelectedDeviceCount, 1);
  EXPECT_EQ(SelectedPath(), DevicePath);
}

TEST_F(ScanFixture, TheButtonsAreSetEnabledFirstUpdateBeforeExit) {
  Start();
  controls.log.clear();
  Rescan();
  const std::vector<std::string> tail(controls.log.end() - 8, controls.log.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{
                "enable UpdateBtn", "show UpdateBtn", "disable ExitBtn", "hide ExitBtn",
                "text RescanStatus1Panel=", "text RescanStatus2Panel=VENDOR  Bridge Product",
                "text RescanStatus3Panel=Firmware: Update required!", "show RescanStatusPanel"}));
  // The scan first hides both buttons and both areas and blanks the lines.
  const std::vector<std::string> head(controls.log.begin(), controls.log.begin() + 9);
  EXPECT_EQ(head,
            (std::vector<std::string>{"hide ExitBtn", "disable ExitBtn", "hide UpdateBtn",
                                      "disable UpdateBtn", "hide RescanStatusPanel",
                                      "hide UpdateStatusPanel", "text RescanStatus1Panel=",
                                      "text RescanStatus2Panel=", "text RescanStatus3Panel="}));
}

TEST_F(ScanFixture, VersionsOtherThanTheTargetAllAskForTheUpdate) {
  struct Case {
    std::string version;
    bool upToDate;
  };
  for (const Case& c : {Case{"00.01.01.07", true}, Case{"00.01.01.07-beta", true},
                        Case{"00.01.01.06", false}, Case{"00.01.01.08", false},
                        Case{"00.01.01.0", false}, Case{"", false}, Case{"00.01.01.7", false}}) {
    SCOPED_TRACE(c.version);
    Library().Reset();
    Library().SetVersion(c.version);
    Start();
    EXPECT_EQ(ScanLines()[2], c.upToDate ? "Firmware: Up to date" : "Firmware: Update required!");
    EXPECT_EQ(OffersUpdate(), !c.upToDate);
    EXPECT_EQ(form->State().SelectedDeviceCount, c.upToDate ? 0 : 1);
    EXPECT_EQ(SelectedPath(), c.upToDate ? "" : DevicePath);
  }
}

// A library that writes a kilobyte past every buffer it fills finds room there (the sanitizers
// would stop a buffer without it), and nothing past the promised sizes is read.
TEST_F(ScanFixture, WritesPastThePromisedSizesChangeNothing) {
  Library().World().library.overrun = 1000;
  Start();
  EXPECT_EQ(ScanLines(), (Lines{"", "VENDOR  Bridge Product", "Firmware: Update required!"}));
  EXPECT_EQ(SelectedPath(), DevicePath);
}

TEST_F(ScanFixture, AVersionTextWithNoTerminatorIsComparedOnItsFirstCharactersOnly) {
  Library().World().library.unterminatedVersion = true;  // all 80 bytes, no terminator
  Library().SetVersion("00.01.01.07");
  Start();
  EXPECT_EQ(ScanLines()[2], "Firmware: Up to date");
  Library().SetVersion(std::string(80, '9'));
  Rescan();
  EXPECT_EQ(ScanLines()[2], "Firmware: Update required!");
}

TEST_F(ScanFixture, NoDeviceOffersExitAndClearsTheSelection) {
  Start();
  ASSERT_EQ(form->State().SelectedDeviceCount, 1);
  Library().SetDevices({});
  Rescan();
  EXPECT_EQ(Calls(), std::vector<std::string>{"ZR_GetDeviceList"});
  EXPECT_EQ(ScanLines(), NotFoundWith(""));
  EXPECT_FALSE(OffersUpdate());
  EXPECT_EQ(form->State().SelectedDeviceCount, 0);
  for (char c : form->State().SelectedDevicePath) ASSERT_EQ(c, '\0');
}

TEST_F(ScanFixture, TwoDevicesAskToDisconnectAndMakeNoPerDeviceCall) {
  Library().SetDevices({DevicePath, "\\\\?\\usb#second"});
  Start();
  EXPECT_EQ(Calls().back(), "ZR_GetDeviceList");
  EXPECT_EQ(ScanLines(),
            (Lines{"Multiple USB drives are attached.", "Please disconnect all devices.",
                   "except the one that needs to be updated."}));
  EXPECT_FALSE(OffersUpdate());
}

TEST_F(ScanFixture, EachFailedCheckStopsTheCallsAndNamesTheFailure) {
  struct Case {
    const char* name;
    std::function<void(sim::SimDevice&)> arrange;
    std::string line3;
    std::string lastCall;
  };
  const std::vector<Case> cases = {
      {"chip 12", [](auto& lib) { lib.chipType = 12; }, "Unsupported Chip ID!", "ZR_GetChipType"},
      {"chip 0", [](auto& lib) { lib.chipType = 0; }, "Unsupported Chip ID!", "ZR_GetChipType"},
      {"mode 1", [](auto& lib) { lib.runningMode = 1; }, "NOT support internal code!",
       "ZR_GetRunningCodeMode"},
      {"version", [](auto& lib) { lib.versionResult = 0; }, "Get F/W version failed!",
       "ZR_GetFWVersion"},
      {"image", [](auto& lib) { lib.imageFits = false; },
       "F/W bin file is not matched with current device!", "ZR_CheckLoadBinFileMatch"},
      {"inquiry", [](auto& lib) { lib.inquiryResult = 0; }, "Get device information failed!",
       "ZR_Inquiry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Library().Reset();
    Start();
    c.arrange(Library().Device());
    Rescan();
    EXPECT_EQ(ScanLines(), NotFoundWith(c.line3));
    EXPECT_EQ(Calls().back().substr(0, c.lastCall.size()), c.lastCall);
    EXPECT_FALSE(OffersUpdate());
    EXPECT_EQ(form->State().SelectedDeviceCount, 0);
  }
}

TEST_F(ScanFixture, ChipEleven_IsAcceptedToo) {
  Library().Device().chipType = 11;
  Start();
  EXPECT_EQ(ScanLines()[2], "Firmware: Update required!");
}

TEST_F(ScanFixture, AFailedInquiryKeepsThePreviousIdentification) {
  Start();
  Library().Device().inquiryResult = 0;
  Library().SetIdentification("OTHER   Device");
  Rescan();
  EXPECT_STREQ(form->State().DeviceInfoText.data(), "VENDOR  Bridge Product");
}

TEST_F(ScanFixture, IdentificationLosesOuterBlanksAndControlBytesOnly) {
  struct Case {
    std::string bytes;
    std::string shown;
  };
  for (const Case& c : {
           Case{"ACME    USB Bridge      ", "ACME    USB Bridge"},
           Case{"\t\x01 ACME\x7f  Bridge\r\n\x1f  ", "ACME\x7f  Bridge"},
           Case{std::string("AB\0CDEFGHIJ", 11), "AB"},
           Case{"        \x02\x03              ", ""},
           Case{"R&D     Bridge &&Co     ", "R&D     Bridge &&Co"},
           Case{"\xe9toile  Ponte\xa0          ", "\xe9toile  Ponte\xa0"},
       }) {
    Library().Reset();
    Library().SetIdentification(c.bytes);
    Start();
    EXPECT_EQ(ScanLines()[1], c.shown);
  }
}

TEST_F(ScanFixture, ALibraryReportingNonsenseCountsEndsInASaneOutcome) {
  Library().World().library.deviceCount = 17;  // more than the slots it was given
  Start();
  EXPECT_EQ(ScanLines()[0], "Multiple USB drives are attached.");
  EXPECT_EQ(Calls().back(), "ZR_GetDeviceList");

  Library().World().library.deviceCount = -3;
  Rescan();
  EXPECT_EQ(ScanLines(), NotFoundWith(""));
  EXPECT_EQ(Calls(), std::vector<std::string>{"ZR_GetDeviceList"});
  EXPECT_FALSE(OffersUpdate());
}

TEST_F(ScanFixture, APathWithNoTerminatorIsNoUsableDevice) {
  Library().World().library.unterminatedPaths = true;
  Start();
  EXPECT_EQ(ScanLines(), NotFoundWith(""));
  EXPECT_EQ(Calls().back(), "ZR_GetDeviceList");
  EXPECT_EQ(form->State().SelectedDeviceCount, 0);
}

// The paths are read from the slots themselves, never through the array of pointers the
// library was handed and may have overwritten.
TEST_F(ScanFixture, OverwrittenSlotPointersLeaveThePathsReadable) {
  Library().World().library.overwriteSlotPointers = true;
  Start();
  EXPECT_TRUE(OffersUpdate());
  EXPECT_EQ(SelectedPath(), DevicePath);
  EXPECT_EQ(Calls()[5], "ZR_GetChipType(" + DevicePath + ")");
}

TEST_F(ScanFixture, ALongestPathIsPassedOnWhole) {
  Library().SetDevices({std::string(259, 'p')});
  Start();
  EXPECT_EQ(SelectedPath(), std::string(259, 'p'));
}

}  // namespace
