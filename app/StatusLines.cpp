// The status tables and their writer; see StatusLines.h.
#include "app/StatusLines.h"

#include <cstddef>

namespace app {
namespace {

using device::ScanOutcome;
using platform::ControlId;

constexpr std::string_view NotFound = "No compatible USB device were found.";
constexpr std::string_view PlugOne = "Please plug a compatible USB device.";

struct ScanRow {
  Lines lines;
  ScanOutcome outcome;
  bool showsIdentity = false;  // line 2 is the device's identification
  bool offerUpdate = false;
};

// One row per outcome, in ScanOutcome's order.
constexpr ScanRow ScanRows[] = {
    {{NotFound, PlugOne, ""}, ScanOutcome::NoDevice},
    {{"Multiple USB drives are attached.", "Please disconnect all devices.",
      "except the one that needs to be updated."},
     ScanOutcome::MultipleDevices},
    {{NotFound, PlugOne, "Unsupported Chip ID!"}, ScanOutcome::UnsupportedChip},
    {{NotFound, PlugOne, "NOT support internal code!"}, ScanOutcome::WrongCodeMode},
    {{NotFound, PlugOne, "Get F/W version failed!"}, ScanOutcome::VersionReadFailed},
    {{NotFound, PlugOne, "F/W bin file is not matched with current device!"},
     ScanOutcome::ImageMismatch},
    {{NotFound, PlugOne, "Get device information failed!"}, ScanOutcome::IdentityFailed},
    {{"", "", "Firmware: Update required!"}, ScanOutcome::UpdateRequired, true, true},
    {{"", "", "Firmware: Up to date"}, ScanOutcome::UpToDate, true, false},
};

constexpr bool EveryOutcomeInItsRow() {
  for (std::size_t i = 0; i < std::size(ScanRows); ++i) {
    if (ScanRows[i].outcome != static_cast<ScanOutcome>(i)) return false;
  }
  return std::size(ScanRows) == static_cast<std::size_t>(ScanOutcome::UpToDate) + 1;
}
static_assert(EveryOutcomeInItsRow(), "one row per scan outcome, in ScanOutcome's order");

}  // namespace

StatusView ScanView(ScanOutcome outcome, std::string_view deviceInfo) {
  std::size_t index = static_cast<std::size_t>(outcome);
  if (index >= std::size(ScanRows)) index = 0;  // no such outcome: nothing usable was found
  const ScanRow& row = ScanRows[index];
  StatusView view{row.lines, row.offerUpdate};
  if (row.showsIdentity) view.lines[1] = deviceInfo;
  return view;
}

StatusView UpdateView(update::UpdateOutcome outcome) {
  switch (outcome) {
    case update::UpdateOutcome::Updated:
      return {{"Successfully updated", "Please power off/on your USB device.", ""}};
    case update::UpdateOutcome::Failed:
      break;
  }
  return {{"", "Update Fail!", ""}};
}

void WriteLines(platform::Controls& controls, StatusArea area, const Lines& lines) {
  const std::array<ControlId, 3> panels =
      area == StatusArea::Rescan
          ? std::array{ControlId::RescanStatus1Panel, ControlId::RescanStatus2Panel,
                       ControlId::RescanStatus3Panel}
          : std::array{ControlId::UpdateStatus1Panel, ControlId::UpdateStatus2Panel,
                       ControlId::UpdateStatus3Panel};
  for (std::size_t i = 0; i < panels.size(); ++i) controls.SetText(panels[i], lines[i]);
}

void ShowStatus(platform::Controls& controls, StatusArea area, const StatusView& view) {
  controls.SetEnabled(ControlId::UpdateBtn, view.offerUpdate);
  controls.SetVisible(ControlId::UpdateBtn, view.offerUpdate);
  controls.SetEnabled(ControlId::ExitBtn, !view.offerUpdate);
  controls.SetVisible(ControlId::ExitBtn, !view.offerUpdate);
  WriteLines(controls, area, view.lines);
  controls.SetVisible(
      area == StatusArea::Rescan ? ControlId::RescanStatusPanel : ControlId::UpdateStatusPanel,
      true);
}

}  // namespace app
