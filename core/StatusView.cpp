// Writing a status area and its button; see StatusView.h.
#include "core/StatusView.h"

namespace core {

using platform::ControlId;

void ShowStatus(platform::Controls& controls, StatusArea area, const StatusView& view) {
  controls.SetEnabled(ControlId::UpdateBtn, view.offerUpdate);
  controls.SetVisible(ControlId::UpdateBtn, view.offerUpdate);
  controls.SetEnabled(ControlId::ExitBtn, !view.offerUpdate);
  controls.SetVisible(ControlId::ExitBtn, !view.offerUpdate);

  const bool rescan = area == StatusArea::Rescan;
  const std::array<ControlId, 3> lines =
      rescan ? std::array{ControlId::RescanStatus1Panel, ControlId::RescanStatus2Panel,
                          ControlId::RescanStatus3Panel}
             : std::array{ControlId::UpdateStatus1Panel, ControlId::UpdateStatus2Panel,
                          ControlId::UpdateStatus3Panel};
  for (std::size_t i = 0; i < lines.size(); ++i) controls.SetText(lines[i], view.lines[i]);
  controls.SetVisible(rescan ? ControlId::RescanStatusPanel : ControlId::UpdateStatusPanel, true);
}

}  // namespace core
