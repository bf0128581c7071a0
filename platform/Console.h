// What a console program needs of the system beyond the library's services: its two output
// streams, a progress display, Ctrl+C handling, waiting for device changes, the machine's name
// and rights, an append-only log file, and the conversion of the library's ANSI text. A Windows
// implementation in platform/win32 and a fake in the unit tests.
//
// Text crosses this interface as UTF-8, except where a method says it takes the library's bytes.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace platform {

class Console {
 public:
  virtual ~Console() = default;

  // Standard output and standard error, as given (no newline added): UTF-16 on a console, the
  // UTF-8 bytes when redirected. False when not all of it could be written; never throws.
  virtual bool Out(std::string_view text) = 0;
  virtual bool Err(std::string_view text) = 0;

  // The library's text (paths, identification, version: bytes in the system's ANSI code page)
  // as UTF-8. Always valid UTF-8: a byte or sequence the code page does not define becomes
  // U+FFFD; control characters are kept (as their code points).
  virtual std::string FromAnsi(std::string_view bytes) = 0;

  // Shows `label` and the time elapsed since on standard error until EndProgress, from another
  // thread, while the caller blocks: a live counter on a console, a plain line every few seconds
  // when standard error is redirected.
  virtual void BeginProgress(std::string_view label) = 0;
  virtual void EndProgress() = 0;

  enum class Interrupts {
    End,     // Ctrl+C and Ctrl+Break end the program (the default)
    Ignore,  // they only print the message given
    Note,    // they are remembered for InterruptRequested, and end nothing
  };
  virtual void SetInterrupts(Interrupts mode, std::string_view message = {}) = 0;
  // True once Ctrl+C or Ctrl+Break came while they were noted.
  virtual bool InterruptRequested() = 0;

  enum class DeviceWait { Changed, TimedOut, Interrupted };
  // Waits for USB device changes: Changed once they have been quiet for `settle` after one came,
  // TimedOut when none came within `timeout`, Interrupted at a noted Ctrl+C.
  virtual DeviceWait WaitForDeviceChange(std::chrono::milliseconds settle,
                                         std::chrono::milliseconds timeout) = 0;

  // The computer's name (UTF-8); empty when it cannot be read.
  virtual std::string ComputerName() = 0;
  // Whether the program runs with administrator rights.
  virtual bool IsElevated() = 0;
  // Appends `line` and a newline to `file` (a UTF-8 path) in one piece: lines from programs writing
  // at the same time never interleave. Returns an error text, empty on success.
  virtual std::string AppendLine(const std::string& file, std::string_view line) = 0;
};

// Everything a console program needs of the platform, each owned by the entry point.
struct ConsoleServices {
  ModuleLoader& modules;
  FaultBarrier& faults;
  VersionRecord& versionRecord;
  SleepAndShutdownBlock& sleepAndShutdown;
  ProgrammingLock& programmingLock;
  Console& console;
};

}  // namespace platform
