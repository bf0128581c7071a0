// Support's view of this PC: the recording switch, the recorder beside the programs, the versions
// and the data folder's recordings and logs. See platform/SupportServices.h.
#pragma once

#include "platform/SupportServices.h"

namespace platform::win32 {

class SystemSupportDesk final : public SupportDesk {
 public:
  std::string SetRecording(bool on) override;
  bool RecordingOn() override;
  std::int64_t RecordingSince() override;
  bool RecorderPresent() override;
  std::string RecorderRefusal() override;
  std::string RecordingsFolderRefusal() override;
  std::vector<Fact> Versions() override;
  std::vector<Gathered> SupportFiles() override;
  std::string ReadNoLink(const std::string& path,
                         const std::function<void(std::string_view)>& take) override;
  std::unique_ptr<Output> CreateArchive(const std::string& named, std::string& path,
                                        std::string& error) override;
};

}  // namespace platform::win32
