// Fakes of the log and the event log, which both programs write.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Trail.h"

namespace fakes {

class FakeLogFile : public platform::LogFile {
 public:
  std::string checkError;            // what CheckWritable answers
  std::string appendError;           // what AppendLine answers for a file other than the shared log
  int appendsBeforeError = 0;        // lines AppendLine writes there before it answers appendError
  std::vector<std::string> checked;  // the files CheckWritable was asked about
  std::vector<std::string> lines;    // appended to a file other than the shared log
  std::vector<std::string> sharedLines;  // appended to the shared log
  std::string computerName = "BENCH-7";
  std::string userName = "BENCH-7\\operator";
  std::string sharedLog = "C:\\ProgramData\\Flashwright\\Logs\\flashwright.log";
  std::string sharedLogError;            // why SharedLog cannot be had, when it cannot
  int sharedLogAsks = 0;                 // how often SharedLog was asked
  std::function<void()> onAppend;        // runs before each line is appended, wherever it goes
  std::vector<std::string> debugOutput;  // what DebugOutput was told

  std::string ComputerName() override { return computerName; }
  std::string UserName() override { return userName; }
  std::string FromAnsi(std::string_view bytes) override { return std::string(bytes); }
  std::string SharedLog(std::string& error) override {
    ++sharedLogAsks;
    error = sharedLogError;
    return sharedLogError.empty() ? sharedLog : std::string();
  }
  std::string CheckWritable(const std::string& file) override {
    checked.push_back(file);
    return checkError;
  }
  std::string AppendLine(const std::string& file, std::string_view line,
                         std::uint64_t rotateAt) override {
    if (onAppend) onAppend();
    if (file == sharedLog) {
      if (rotateAt != platform::SharedLogRotateAt) return "the shared log must rotate";
      sharedLines.emplace_back(line);
      return {};
    }
    if (appendError.empty() || appendsBeforeError > 0) {
      if (appendsBeforeError > 0) --appendsBeforeError;
      lines.emplace_back(line);
      return {};
    }
    return appendError;
  }
  void DebugOutput(std::string_view text) override { debugOutput.emplace_back(text); }
};

class FakeEventLog : public platform::EventLog {
 public:
  std::vector<std::pair<platform::Event, platform::EventText>> reported;
  void Report(platform::Event event, const platform::EventText& text) override {
    reported.emplace_back(event, text);
  }
};

}  // namespace fakes
