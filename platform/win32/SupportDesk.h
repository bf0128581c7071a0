// Support's view of this PC: the recording switch, the recorder beside the programs, the versions
// and the data folder's recordings and logs. See platform/SupportServices.h.
#pragma once

#include "platform/SupportServices.h"

namespace platform::win32 {

class SystemSupportDesk final : public SupportDesk {
 public:
  std::string SetRecording(bool on) override;
  bool RecordingOn() override;
  bool RecorderPresent() override;
  std::string RecorderRefusal() override;
  std::vector<Fact> Versions() override;
  std::vector<Gathered> SupportFiles() override;
  std::string ReadNoLink(const std::string& path, std::uint64_t limit,
                         std::string& contents) override;
  std::string DefaultArchivePath() override;
};

}  // namespace platform::win32
