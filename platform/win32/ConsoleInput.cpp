// Standard input a line at a time; see ConsoleInput.h.
#include "platform/win32/ConsoleInput.h"

#include <iterator>

#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

// How long a read cut short waits for the control handler, which runs on a thread of its own, to
// note the Ctrl+C that cut it; and how often a wait for a pipe's bytes looks for one.
constexpr DWORD HandlerGraceMs = 500;
constexpr DWORD PipePollMs = 50;

}  // namespace

LineInput::Read ConsoleLineInput::ReadLine(std::string& line) {
  line.clear();
  if (Noted()) return Read::Interrupted;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return Read::End;
  DWORD mode = 0;
  return GetConsoleMode(input, &mode) ? ReadConsoleLine(input, line)
                                      : ReadRedirectedLine(input, line);
}

// The console gives a line in pieces as long as the buffer; Ctrl+C ends the read with nothing, and
// Ctrl+Z at a line's start is the console's end of input. Each piece is searched once; a line
// grown past the limit is dropped and the rest of it read past.
LineInput::Read ConsoleLineInput::ReadConsoleLine(HANDLE input, std::string& line) {
  std::wstring wide;
  bool overlong = false;
  for (;;) {
    wchar_t buffer[256];
    DWORD read = 0;
    const BOOL ok =
        ReadConsoleW(input, buffer, static_cast<DWORD>(std::size(buffer)), &read, nullptr);
    if (!ok || read == 0) return Noted(HandlerGraceMs) ? Read::Interrupted : Read::End;
    if (Noted()) return Read::Interrupted;
    const std::size_t searched = wide.size();
    wide.append(buffer, read);
    const std::size_t end = wide.find(L'\n', searched);
    if (end == std::wstring::npos) {
      if (wide.size() > MaxLineBytes) {
        overlong = true;
        wide.clear();
      }
      continue;
    }
    wide.resize(end);
    if (!wide.empty() && wide.back() == L'\r') wide.pop_back();
    if (overlong) return Read::TooLong;
    if (wide == L"\x1A") return Read::End;
    line = WideToUtf8(wide);
    if (line.size() > MaxLineBytes) return Read::TooLong;
    return Read::Line;
  }
}

// Bytes are searched for the line's end once each, and the buffer never holds more than one
// line's limit and one read: a longer line is dropped as it comes, up to its end.
LineInput::Read ConsoleLineInput::ReadRedirectedLine(HANDLE input, std::string& line) {
  for (;;) {
    if (!started_ && (pending_.size() >= 3 || ended_)) {
      started_ = true;
      if (pending_.starts_with("\xEF\xBB\xBF")) pending_.erase(0, 3);
    }
    const std::size_t end = started_ ? pending_.find('\n', searched_) : std::string::npos;
    if (end != std::string::npos || (ended_ && (!pending_.empty() || overlong_))) {
      const std::size_t length = end == std::string::npos ? pending_.size() : end;
      const bool tooLong = overlong_ || length > MaxLineBytes;
      if (!tooLong) line.assign(pending_, 0, length);
      pending_.erase(0, end == std::string::npos ? pending_.size() : end + 1);
      searched_ = 0;
      overlong_ = false;
      if (tooLong) return Read::TooLong;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return Read::Line;
    }
    if (started_) {
      searched_ = pending_.size();
      if (pending_.size() > MaxLineBytes) {
        overlong_ = true;
        pending_.clear();
        searched_ = 0;
      }
    }
    if (ended_) return Read::End;
    // A pipe is read only once it has bytes, so that a Ctrl+C ends the wait; a file never blocks.
    if (GetFileType(input) == FILE_TYPE_PIPE) {
      DWORD available = 0;
      if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
        ended_ = true;
        continue;
      }
      if (available == 0) {
        if (Noted(PipePollMs)) return Read::Interrupted;
        continue;
      }
    }
    // Reads as large as a pipe's buffer: a long line costs few calls, and the buffer held stays
    // within the line's limit and one read.
    char buffer[65536];
    DWORD read = 0;
    if (!ReadFile(input, buffer, sizeof buffer, &read, nullptr) || read == 0) {
      ended_ = true;
    } else {
      pending_.append(buffer, read);
    }
    if (Noted()) return Read::Interrupted;
  }
}

}  // namespace platform::win32
