// The person at the console, told through the terminal services' message box; see
// platform/Deployment.h. wtsapi32.dll is loaded only when a message is to be sent, from the
// system folder: most runs never send one. Under Wine every process is in session 1 and
// WTSSendMessageW is a stub that fails, so only an interactive run can be shown there.
#pragma once

#include <windows.h>

#include "platform/Deployment.h"

namespace platform::win32 {

class TerminalConsoleUser final : public ConsoleUser {
 public:
  bool Interactive() override;
  std::string Tell(std::string_view title, std::string_view text,
                   std::chrono::seconds timeout) override;
};

}  // namespace platform::win32
