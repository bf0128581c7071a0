// Ctrl+C and Ctrl+Break for the command line: ignored with a message, noted for a wait to end, or
// left to end the process, as the command says.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>

#include "platform/Console.h"
#include "platform/win32/Owners.h"

namespace platform::win32 {

// Interrupts through the console's control handler, which runs on a thread of its own. One at a
// time: the handler finds the instance through a process-wide pointer.
class ConsoleInterrupts final : public Interrupts {
 public:
  explicit ConsoleInterrupts(ConsoleOutput& output);
  ~ConsoleInterrupts() override;
  ConsoleInterrupts(const ConsoleInterrupts&) = delete;
  ConsoleInterrupts& operator=(const ConsoleInterrupts&) = delete;

  void Set(Mode mode, std::string_view message) override;
  bool Requested() override;
  // Signalled once an interrupt has been noted, for waits that must end then.
  HANDLE NotedEvent() const { return noted_.Get(); }

 private:
  static BOOL WINAPI Handler(DWORD event);

  ConsoleOutput& output_;
  std::mutex mutex_;
  Mode mode_ = Mode::End;
  std::string message_;
  UniqueHandle noted_;
};

}  // namespace platform::win32
