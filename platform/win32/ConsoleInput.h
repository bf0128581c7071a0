// Standard input a line at a time for the command line: the console's own line editing when it is
// a console, the bytes up to each line's end when it is a file or a pipe.
#pragma once

#include <windows.h>

#include <string>

#include "platform/Console.h"

namespace platform::win32 {

// Lines from standard input. A noted Ctrl+C (the event ConsoleInterrupts signals) ends a read that
// waits: the console's read, which Ctrl+C cuts short, and a pipe's, which is only made once the
// pipe has bytes. Redirected input is taken as UTF-8 (a byte-order mark at its start is skipped),
// a console's as what was typed, whatever its code page.
class ConsoleLineInput final : public LineInput {
 public:
  explicit ConsoleLineInput(HANDLE noted) : noted_(noted) {}

  Read ReadLine(std::string& line) override;

 private:
  Read ReadConsoleLine(HANDLE input, std::string& line);
  Read ReadRedirectedLine(HANDLE input, std::string& line);
  bool Noted(DWORD waitMs = 0) const {
    return WaitForSingleObject(noted_, waitMs) == WAIT_OBJECT_0;
  }

  HANDLE noted_;
  std::string pending_;       // redirected bytes read beyond the last line given
  std::size_t searched_ = 0;  // how much of pending_ is known to hold no line's end
  bool overlong_ = false;     // the line being read is past the limit and is being dropped
  bool started_ = false;  // redirected input: its first bytes were looked at for a byte-order mark
  bool ended_ = false;    // redirected input: no more bytes will come
};

}  // namespace platform::win32
