// The command line's output: standard output and standard error as UTF-8 on any console or pipe,
// and the progress line, a live counter on standard error while a long call blocks.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/Console.h"

namespace platform::win32 {

// Writes UTF-8 `text` to a standard stream: as UTF-16 to a console, whatever its code page, and as
// the UTF-8 bytes to a file or pipe. False when not all of it was written.
bool WriteStream(DWORD stream, std::string_view text);

// Standard output and standard error. Writers of standard error take turns, and the first after
// the progress line's live counter starts a new line, so that nothing is written into the counter.
class StandardStreams final : public ConsoleOutput {
 public:
  bool Out(std::string_view text) override;
  bool Err(std::string_view text) override;
  std::string FromAnsi(std::string_view bytes) override;
  Screen ErrorScreen() override;
  void Beep() override;

  // The live counter: `text` over the current line of standard error, which stays open.
  void ShowCounter(std::string_view text);
  // Ends the counter's line, if one is open.
  void CloseCounter();

 private:
  std::mutex errMutex_;
  bool counterOpen_ = false;
};

// The progress line, drawn by a thread of its own while the caller blocks. The display is a
// courtesy: if it fails, it stops, and the caller's work goes on.
class ConsoleProgressLine final : public ProgressLine {
 public:
  explicit ConsoleProgressLine(StandardStreams& streams) : streams_(streams) {}
  ~ConsoleProgressLine() override { End(); }
  ConsoleProgressLine(const ConsoleProgressLine&) = delete;
  ConsoleProgressLine& operator=(const ConsoleProgressLine&) = delete;

  void Begin(std::string_view label) override;
  void End() override;

 private:
  void Show(const std::string& text, bool live);

  StandardStreams& streams_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
};

}  // namespace platform::win32
