// The command line's hidden window: it hears device changes and lets a shutdown be held off while
// a device is programmed.
#pragma once

#include <windows.h>

#include <chrono>
#include <string_view>

#include "platform/Console.h"
#include "platform/Platform.h"
#include "platform/win32/ConsoleInterrupts.h"
#include "platform/win32/Owners.h"
#include "platform/win32/ShutdownBlock.h"

namespace platform::win32 {

// A hidden top-level window: device changes are broadcast to top-level windows only (a
// message-only window misses DBT_DEVNODES_CHANGED), and a window is what a shutdown can be asked
// to wait for. It is made at the first Watch, wait or Block, so that a command needing neither
// (status) never loads the window libraries' drivers. On the thread that made it only.
class DeviceChangeWindow final : public DeviceChanges, public SleepAndShutdownBlock {
 public:
  // `settle` is how long a burst of changes must be quiet to have settled when it comes outside
  // a wait (a library call that handles messages, say); a wait names its own.
  DeviceChangeWindow(ConsoleInterrupts& interrupts, std::chrono::milliseconds settle)
      : interrupts_(interrupts), settle_(static_cast<UINT>(settle.count())) {}
  ~DeviceChangeWindow() override;
  DeviceChangeWindow(const DeviceChangeWindow&) = delete;
  DeviceChangeWindow& operator=(const DeviceChangeWindow&) = delete;

  void Watch() override;
  Wait WaitForChange(std::chrono::milliseconds settle, std::chrono::milliseconds timeout) override;
  void Block(std::string_view reason) override;
  void Unblock() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  ConsoleInterrupts& interrupts_;
  UniqueWindow window_;
  UniqueDeviceNotification notification_;  // released before the window it names
  SleepAndShutdownHold sleepAndShutdown_;  // let go before the window it names
  UINT settle_;                            // milliseconds
  bool changing_ = false;
  bool settled_ = false;
};

}  // namespace platform::win32
