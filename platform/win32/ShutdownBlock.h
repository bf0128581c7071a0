// Holding off sleep and shutdown while a device is programmed, for both programs: one owner of the
// hold, which a window of each program carries.
#pragma once

#include <windows.h>

#include <string_view>

namespace platform::win32 {

// Keeps the system and the display awake and makes a shutdown show a reason for a window and ask
// first, from Hold until Release or the owner's end. One hold at a time: a second Hold while held
// does nothing, and Release while nothing is held does nothing.
class SleepAndShutdownHold {
 public:
  SleepAndShutdownHold() = default;
  SleepAndShutdownHold(const SleepAndShutdownHold&) = delete;
  SleepAndShutdownHold& operator=(const SleepAndShutdownHold&) = delete;
  ~SleepAndShutdownHold() { Release(); }

  // `window` is the one a shutdown names (without one, only sleep is held off); it must outlive
  // the hold. `reason` is plain ASCII.
  void Hold(HWND window, std::string_view reason);
  void Release();
  // What the window answers WM_QUERYENDSESSION with is the opposite of this.
  bool Held() const { return held_; }

 private:
  bool held_ = false;
  HWND window_ = nullptr;
};

}  // namespace platform::win32
