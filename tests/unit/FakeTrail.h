// Fakes of the log and the event log, which both programs write.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/Trail.h"

namespace fakes {

class FakeLogFile : public platform::LogFile {
 public:
  std::string checkError;            // what CheckWritable answers
  std::string appendError;           // what AppendLine answers
  int appendsBeforeError = 0;        // lines AppendLine writes before it answers appendError
  std::vector<std::string> checked;  // the files CheckWritable was asked about
  std::vector<std::string> lines;    // appended, when it succeeds, to any file
  std::vector<std::string> files;    // the file of each line in `lines`
  std::string computerName = "BENCH-7";
  std::string userName = "BENCH-7\\operator";
  std::string sharedLog = "C:\\ProgramData\\Flashwright\\Logs\\flashwright.log";
  std::string sharedLogError;  // why SharedLog cannot be had, when it cannot

  std::string ComputerName() override { return computerName; }
  std::string UserName() override { return userName; }
  std::string SharedLog(std::string& error) override {
    error = sharedLogError;
    return sharedLogError.empty() ? sharedLog : std::string();
  }
  std::string CheckWritable(const std::string& file) override {
    checked.push_back(file);
    return checkError;
  }
  std::string AppendLine(const std::string& file, std::string_view line,
                         std::uint64_t /*rotateAt*/) override {
    if (appendError.empty() || appendsBeforeError > 0) {
      if (appendsBeforeError > 0) --appendsBeforeError;
      lines.emplace_back(line);
      files.push_back(file);
      return {};
    }
    return appendError;
  }
};

class FakeEventLog : public platform::EventLog {
 public:
  std::vector<std::pair<platform::Event, platform::EventText>> reported;
  void Report(platform::Event event, const platform::EventText& text) override {
    reported.emplace_back(event, text);
  }
};

}  // namespace fakes
