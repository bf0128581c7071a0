// The log files: lines appended whole, one writer at a time, never through a link, and the check
// that the file can take them before a command starts. The shared log's folder is the checked
// data folder (DataFolder.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/Trail.h"
#include "platform/win32/Text.h"

namespace platform::win32 {

// The log, opened for each line and locked whole while it is written; a writer that finds, once it
// holds the lock, that the file was rotated away opens the new one.
class AppendOnlyLog final : public LogFile {
 public:
  std::string ComputerName() override;
  std::string UserName() override;
  std::string FromAnsi(std::string_view bytes) override { return CodePageToUtf8(0, bytes); }
  std::string SharedLog(std::string& error) override;
  std::string CheckWritable(const std::string& file) override;
  std::string AppendLine(const std::string& file, std::string_view line,
                         std::uint64_t rotateAt) override;
};

}  // namespace platform::win32
