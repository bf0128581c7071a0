// A console for the command-line program's unit tests: it keeps what was written, the interrupt
// modes set and the progress shown, and answers as the test says. Its ANSI code page is Latin-1
// with 0x81 left undefined, as in the system's Western code page.
#pragma once

#include <string>
#include <vector>

#include "platform/Console.h"

namespace fakes {

class FakeConsole final : public platform::Console {
 public:
  std::string out, err;
  std::vector<Interrupts> modes;  // every mode set, in order
  Interrupts mode = Interrupts::End;
  int progressShown = 0;
  bool progressRunning = false;
  bool elevated = true;
  std::string appendError;         // what AppendLine answers
  std::vector<std::string> lines;  // appended, when it succeeds
  bool outFails = false;           // standard output cannot be written
  std::string computerName = "BENCH-7";

  bool Out(std::string_view text) override {
    if (outFails) return false;
    out += text;
    return true;
  }
  bool Err(std::string_view text) override {
    err += text;
    return true;
  }
  std::string FromAnsi(std::string_view bytes) override {
    std::string utf8;
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        utf8 += c;
      } else if (byte == 0x81) {
        utf8 += "\xEF\xBF\xBD";
      } else {
        utf8 += static_cast<char>(0xC0 | (byte >> 6));
        utf8 += static_cast<char>(0x80 | (byte & 0x3F));
      }
    }
    return utf8;
  }
  void BeginProgress(std::string_view) override {
    ++progressShown;
    progressRunning = true;
  }
  void EndProgress() override { progressRunning = false; }
  void SetInterrupts(Interrupts to, std::string_view) override {
    mode = to;
    modes.push_back(to);
  }
  bool InterruptRequested() override { return false; }
  DeviceWait WaitForDeviceChange(std::chrono::milliseconds, std::chrono::milliseconds) override {
    return DeviceWait::Interrupted;
  }
  std::string ComputerName() override { return computerName; }
  bool IsElevated() override { return elevated; }
  std::string AppendLine(const std::string&, std::string_view line) override {
    if (appendError.empty()) lines.emplace_back(line);
    return appendError;
  }
};

}  // namespace fakes
