// Finding a measured program's window and telling when it is ready: visible, showing what the
// simulator's built-in world makes it show, and its message loop answering. Also how a measured
// program is closed.
#pragma once

#include <windows.h>

#include "harness/Driver.h"
#include "platform/Layout.h"

namespace fwbench {

inline constexpr char MinimalClass[] = "FwbMinimalWindow";
// What the simulator's built-in world (one device at 00.01.01.05) makes status line 3 read.
inline constexpr char ExpectedLine3[] = "Firmware: Update required!";
inline constexpr int Line3Id =
    ::platform::ControlIdBase + static_cast<int>(::platform::ControlId::RescanStatus3Panel);
inline constexpr DWORD ReadyTimeoutMs = 20000;

// Waits until `process` shows a visible window of `className` (whose status line 3, when
// `line3` is given, reads that text) and its thread answers a message, i.e. its message loop
// runs and the first frame is being drawn. Returns the window, or nullptr after ReadyTimeoutMs
// or once the process has ended.
HWND WaitReady(const e2e::Process& process, const char* className, const char* line3);

// Closes the program as a user would and waits for it to end; kills it when it does not.
void CloseProgram(e2e::Process& process, HWND window);

}  // namespace fwbench
