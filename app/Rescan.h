// The rescan after device changes: which changes count, and the one timer that debounces them.
#pragma once

#include <cstdint>

#include "device/Scan.h"
#include "platform/Platform.h"

namespace app {

// Device-change event codes, as the platform delivers them.
inline constexpr std::uint32_t DeviceNodesChanged = 0x0007;
inline constexpr std::uint32_t DeviceArrival = 0x8000;
inline constexpr std::uint32_t DeviceRemoveComplete = 0x8004;

// The events that (re)start the rescan: a removal and a change of the device nodes. Only the code
// counts, never the event's data; an arrival is followed by a node change anyway.
constexpr bool StartsRescan(std::uint32_t event) {
  return event == DeviceRemoveComplete || event == DeviceNodesChanged;
}

// Each accepted device change asks a window with this title, whichever program shows it, to close.
inline constexpr const char* PromptWindowTitle = "Message";

inline constexpr std::uintptr_t RescanTimerId = 101;

// While another of our programs holds the programming lock, the window looks again this often, so
// that it shows the device within a second of the lock coming free. The timer runs only then.
inline constexpr std::uintptr_t BusyTimerId = 102;
inline constexpr unsigned BusyRetryDelay = 1000;  // milliseconds

// The rescan timer's one owner: nothing else starts or cancels it. Restarting it on every
// accepted change makes a burst of changes give one rescan, RescanDelay after the last.
class RescanDebounce {
 public:
  explicit RescanDebounce(platform::Timers& timers) : timers_(timers) {}

  // The rescan falls due RescanDelay from now, whether or not one was pending.
  void Restart() {
    Cancel();
    timers_.StartTimer(RescanTimerId, device::RescanDelay);
  }
  // No rescan falls due; harmless when none was pending.
  void Cancel() { timers_.CancelTimer(RescanTimerId); }
  // Whether a timer message with `timerId` is the rescan's.
  static constexpr bool Owns(std::uintptr_t timerId) { return timerId == RescanTimerId; }

 private:
  platform::Timers& timers_;
};

}  // namespace app
