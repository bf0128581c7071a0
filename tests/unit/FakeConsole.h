// A console for the command-line program's unit tests: it keeps what was written, the interrupt
// modes set and the progress shown, and answers as the test says.
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

  void Out(std::string_view text) override { out += text; }
  void Err(std::string_view text) override { err += text; }
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
  std::string ComputerName() override { return "BENCH-7"; }
  bool IsElevated() override { return elevated; }
  std::string AppendLine(const std::string&, std::string_view line) override {
    if (appendError.empty()) lines.emplace_back(line);
    return appendError;
  }
};

}  // namespace fakes
