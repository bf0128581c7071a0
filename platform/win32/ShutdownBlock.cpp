// The sleep and shutdown hold; see ShutdownBlock.h.
#include "platform/win32/ShutdownBlock.h"

#include <string>

namespace platform::win32 {

void SleepAndShutdownHold::Hold(HWND window, std::string_view reason) {
  if (held_) return;
  held_ = true;
  window_ = window;
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  const std::wstring wide(reason.begin(), reason.end());  // the reasons are plain ASCII
  ShutdownBlockReasonCreate(window, wide.c_str());
}

void SleepAndShutdownHold::Release() {
  if (!held_) return;
  held_ = false;
  ShutdownBlockReasonDestroy(window_);
  SetThreadExecutionState(ES_CONTINUOUS);
  window_ = nullptr;
}

}  // namespace platform::win32
