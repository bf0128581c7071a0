// The window's scan; see ScanAndShow.h.
#include "app/ScanAndShow.h"

#include <cstring>

#include "app/StatusLines.h"
#include "device/Scan.h"

namespace app {

using platform::ControlId;

device::ScanReport ScanAndShow(updatelib::LibraryGateway& library, SharedState& state,
                               platform::Controls& controls) {
  controls.SetVisible(ControlId::ExitBtn, false);
  controls.SetEnabled(ControlId::ExitBtn, false);
  controls.SetVisible(ControlId::UpdateBtn, false);
  controls.SetEnabled(ControlId::UpdateBtn, false);
  controls.SetVisible(ControlId::RescanStatusPanel, false);
  controls.SetVisible(ControlId::UpdateStatusPanel, false);
  WriteLines(controls, StatusArea::Rescan, {"", "", ""});
  state.SelectedDeviceCount = 0;
  state.SelectedDevicePath.fill('\0');

  device::ScanReport report;
  try {
    report = device::ScanDevices(library);
  } catch (...) {
    ShowStatus(controls, StatusArea::Rescan, ScanView(device::ScanOutcome::NoDevice, ""));
    throw;
  }
  // A failed identification keeps the one read before.
  if (device::Updatable(report.outcome)) state.DeviceInfoText = report.identity;
  const device::DeviceIdentity& info = state.DeviceInfoText;
  const StatusView view =
      ScanView(report.outcome, std::string_view(info.data(), strnlen(info.data(), info.size())));
  if (view.offerUpdate) {
    state.SelectedDeviceCount = report.count;
    state.SelectedDevicePath = report.path;
  }
  ShowStatus(controls, StatusArea::Rescan, view);
  return report;
}

}  // namespace app
