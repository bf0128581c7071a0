// The log files: lines appended whole, one writer at a time, never through a link, never waited
// for longer than the run's budget, and the check that the file can take them before a command
// starts. The shared log's folder is the checked data folder (DataFolder.h).
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/LogAppend.h"
#include "platform/Trail.h"
#include "platform/win32/Text.h"

namespace platform::win32 {

// The log, opened for each line and locked whole while it is written (platform/LogAppend.h decides
// the steps). One lives for the program's run, and its budget is the run's: every log it writes,
// the shared one and a --log file, draws on it.
class AppendOnlyLog final : public LogFile {
 public:
  // `waitBudget`: what the run may wait for its logs in all; other than LogWaitBudget only where
  // writers of one process stand for many programs' runs (a test of many lines at once).
  explicit AppendOnlyLog(std::chrono::milliseconds waitBudget = LogWaitBudget)
      : budget_(waitBudget) {}

  std::string ComputerName() override;
  std::string UserName() override;
  std::string FromAnsi(std::string_view bytes) override { return CodePageToUtf8(0, bytes); }
  std::string SharedLog(std::string& error) override;
  std::string CheckWritable(const std::string& file) override;
  std::string AppendLine(const std::string& file, std::string_view line,
                         std::uint64_t rotateAt) override;
  void DebugOutput(std::string_view text) override;

 private:
  WaitBudget budget_;
};

}  // namespace platform::win32
