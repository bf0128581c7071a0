// The command line's output and progress line; see ConsoleStreams.h.
#include "platform/win32/ConsoleStreams.h"

#include <chrono>

#include "platform/win32/Text.h"

namespace platform::win32 {

bool WriteStream(DWORD stream, std::string_view text) {
  HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  if (text.empty()) return true;
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Utf8ToWide(text);
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
           written == wide.size();
  }
  return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// ---- standard streams ---------------------------------------------------------------------------

bool StandardStreams::Out(std::string_view text) { return WriteStream(STD_OUTPUT_HANDLE, text); }

ConsoleOutput::Screen StandardStreams::ErrorScreen() {
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
  constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
#endif
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(handle, &mode)) return Screen::Redirected;
  // Windows 10 and later take the sequences once asked to; older consoles refuse the mode.
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
      SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    return Screen::Colour;
  }
  return Screen::Plain;
}

void StandardStreams::Beep() { ::Beep(880, 400); }

bool StandardStreams::Err(std::string_view text) {
  const std::lock_guard lock(errMutex_);
  if (counterOpen_) {
    WriteStream(STD_ERROR_HANDLE, "\n");
    counterOpen_ = false;
  }
  return WriteStream(STD_ERROR_HANDLE, text);
}

std::string StandardStreams::FromAnsi(std::string_view bytes) {
  return CodePageToUtf8(CP_ACP, bytes);
}

void StandardStreams::ShowCounter(std::string_view text) {
  const std::lock_guard lock(errMutex_);
  std::string line(1, '\r');
  line += text;
  WriteStream(STD_ERROR_HANDLE, line);
  counterOpen_ = true;
}

void StandardStreams::CloseCounter() {
  const std::lock_guard lock(errMutex_);
  if (counterOpen_) WriteStream(STD_ERROR_HANDLE, "\n");
  counterOpen_ = false;
}

// ---- the progress line --------------------------------------------------------------------------

void ConsoleProgressLine::Begin(std::string_view label) {
  End();
  DWORD mode = 0;
  const bool live = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  stop_ = false;
  thread_ = std::thread([this, text = std::string(label), live] {
    try {
      Show(text, live);
    } catch (...) {
    }
  });
}

void ConsoleProgressLine::End() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopped_.notify_all();
  thread_.join();
  streams_.CloseCounter();
}

void ConsoleProgressLine::Show(const std::string& text, bool live) {
  const auto started = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  for (int shown = -1;;) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
            .count();
    if (live) {
      streams_.ShowCounter(text + "... " + std::to_string(seconds) + " s ");
    } else if (seconds / 5 != shown) {
      shown = static_cast<int>(seconds / 5);
      streams_.Err(text + "... " + std::to_string(seconds) + " s\n");
    }
    if (stopped_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
      break;
    }
  }
}

}  // namespace platform::win32
